// Path resolution to the full long form of an existing file or directory.
// Results as in fsops.h: 0, or -1 with the system's code.
#pragma once

// The resolved path into output, never empty; it fails where the path does
// not resolve, and with the code for a name too long where the result does
// not fit in capacity characters (output is then left alone).
int FullLongPath(const char* path, char* output, int capacity);

// The platform's full form of path, from the current directory, as text:
// "." and ".." taken out, nothing looked up. It fails where the result does
// not fit in size characters or path is empty.
int AbsolutePath(const char* path, char* output, int size);

// Resolves a writable full path one component at a time into result
// (2 x 260 characters).
int ResolveLongName(char* full_path, char* result);
