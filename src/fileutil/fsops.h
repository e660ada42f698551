// The platform's file-system operations that the portable code needs.
// Names differ from the Win32 ones, which are macros.
#pragma once

#include <cstdint>
#include <cstdio>

// Current directory into buffer (size bytes); its length, 0 on failure.
int ReadCurrentDir(char* buffer, int size);
// 0, or -1 when the directory cannot be made current.
int EnterDirectory(const char* path);
int MakeDir(const char* path);          // 0 or -1
int RemoveDir(const char* path);        // 0 or -1; only an empty directory
int DeleteFileNamed(const char* name);  // 0 or -1
int RenameFileNamed(const char* from, const char* to);  // 0 or -1
// Clears the read-only attribute, keeping the others: 0 or -1.
int MakeWritable(const char* name);
// 1 when name is a directory link (junction, symbolic link to a directory).
int IsDirectoryLink(const char* name);
// Size of an open file in bytes; -1 when it cannot be told.
int64_t OpenFileSize(FILE* file);
// The Windows directory; its length, 0 when there is none.
int ReadWindowsDir(char* buffer, int size);
// The temporary directory, ending in a separator; its length, 0 on failure.
int ReadTempDir(char* buffer, int size);
void PauseMs(int milliseconds);
// Makes the drive of letter current: 0, or -1 when it cannot be.
int ChangeDrive(char letter);
// Gives the open destination file the time stamps of the open source file.
void FileTimeCopy(FILE* destination, FILE* source);

// Removes a directory link itself, never what it points to: 0 or -1.
int RemoveDirectoryLink(const char* name);
// 1 for a name the platform would not store as written: a device name
// (CON, NUL, COM1, ...) or, on Windows, one that ends in a dot or a blank,
// which the path rules strip (".. " would name the parent).
int IsForbiddenName(const char* name);
// A stream that swallows what is written to it; null when it cannot be opened.
FILE* OpenNullSink();
// 1 where paths may begin with a drive letter (A:, C:), 0 where there are none.
int HasDriveLetters();
// Opens a regular file for binary reading; null when it cannot be opened or
// is something else (a pipe would block the reader for ever).
FILE* OpenRegularFile(const char* name);
