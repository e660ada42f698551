// Writing the distribution floppies from the INF file's list of files.
#pragma once

int BuildFloppySet();

// The disk that a value of [SourceDisksFiles] names: its leading number, 0
// when that is not 1 to 8.
int DiskNumber(const char* value);
