// Path resolution to the full long form of an existing file or directory.
#pragma once

// Returns the resolved length (copied to output with its terminator only
// when it is below capacity), or 0 when the path does not resolve.
int FullLongPath(const char* path, char* output, int capacity);

// The platform's full form of path, from the current directory, as text:
// "." and ".." taken out, nothing looked up. Its length, or 0 when it does
// not fit in size characters or path is empty (with the system's code).
int AbsolutePath(const char* path, char* output, int size);

// Resolves a writable full path one component at a time into result
// (2 x 260 characters): 1 resolved, 0 not.
int ResolveLongName(char* full_path, char* result);
