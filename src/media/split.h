// Cutting a file into floppy-sized pieces.
#pragma once

const long PIECE_SIZE = 1457664;  // 2,847 sectors of 512 bytes

int SplitFile(const char* path);
