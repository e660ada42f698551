// Removal of a directory tree.
#pragma once

// 0 gone, 1 the path does not resolve, -1 something could not be entered or
// removed.
int DeleteTree(const char* path);
