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
// Deletes the file name, or a link (to a file or a directory) standing
// under that name itself, never what a link leads to. A directory stays, and
// so does a read-only file, as with DeleteFileA: 0 or -1.
int DeleteFileNamed(const char* name);
int RenameFileNamed(const char* from, const char* to);  // 0 or -1
// Clears the read-only attribute, keeping the others: 0 or -1.
int MakeWritable(const char* name);
// 1 when name is a directory link (junction, symbolic link to a directory).
int IsDirectoryLink(const char* name);
// Size of an open file in bytes; -1 when it cannot be told.
int64_t OpenFileSize(FILE* file);
// The Windows directory; its length, 0 when there is none.
int ReadWindowsDir(char* buffer, int size);
// The full path of name in the system directory, where Windows keeps its own
// programs and libraries; its length, 0 when there is none or it does not fit.
int SystemFilePath(const char* name, char* buffer, int size);
// The same in the Windows directory (the 95 family keeps some programs there).
int WindowsFilePath(const char* name, char* buffer, int size);
// The temporary directory, ending in a separator; its length, 0 on failure.
int ReadTempDir(char* buffer, int size);
void PauseMs(int milliseconds);
// Makes the drive of letter current: 0, or -1 when it cannot be.
int ChangeDrive(char letter);
// Gives the open destination file the time stamps of the open source file.
void FileTimeCopy(FILE* destination, FILE* source);

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

// Links: a tree that is filled or removed may hold links that someone else
// planted there, and what they lead to is not the program's to touch.

// HoldDirectory's result for a name that stands as a symbolic link, a
// junction or another reparse point, or as something not a directory.
const int NOT_OWN_DIRECTORY = -2;

// A directory held open. While it is held it stays what was checked (Windows
// refuses to rename or remove it), and a walk can come back to it.
struct HeldDirectory {
  intptr_t handle;
};
// Holds the directory path, never through a link in its last part: 0,
// NOT_OWN_DIRECTORY, or -1 when it cannot be opened.
int HoldDirectory(const char* path, HeldDirectory* held);
// Holds the current directory, however it was reached: 0 or -1.
int HoldCurrentDirectory(HeldDirectory* held);
// Makes the held directory current; path names it from the current
// directory: 0 or -1.
int EnterHeldDirectory(const HeldDirectory* held, const char* path);
// 1 when the current directory is the held one.
int IsHeldCurrent(const HeldDirectory* held);
void ReleaseDirectory(HeldDirectory* held);
// Creates the file name for binary writing, exclusively: null when anything,
// a link included, stands under the name, or it cannot be created.
FILE* CreateNewFile(const char* name);
// 1 when path names an entry; a link counts as itself, wherever it leads.
int EntryExists(const char* path);
