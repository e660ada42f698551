// Path resolution to the full long form of an existing file or directory.
#pragma once

// Returns the resolved length (copied to output with its terminator only
// when it is below capacity), or 0 when the path does not resolve.
int FullLongPath(const char* path, char* output, int capacity);

// Resolves a writable full path one component at a time into result
// (260 characters): 1 resolved, 0 not.
int ResolveLongName(char* full_path, char* result);
