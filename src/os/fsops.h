// The seam between the portable code and the system's files and
// directories; each platform implements it (fsops_posix.cpp, fsops_win32.cpp).
//
// Results: 0 done, or -1 failed with the system's error code left for
// LastSystemError() (errno, GetLastError), unless a comment says otherwise;
// values come back through out-parameters, and a question answers as bool.
// Names differ from the Win32 ones, which are macros. Names are relative to a held directory, or to the current directory where
// the directory is null. A link that the program did not make is never
// followed below a held directory: it is opened, listed and removed as itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/limits.h"

// A directory held open while it is read or filled: on Windows nobody can
// rename or remove it meanwhile, on POSIX names are opened relative to it,
// so what was checked stays what is used.
struct Directory {
  intptr_t handle;
  const Directory* parent;  // null at the top of a walk
  char name[PATH_SIZE];     // the full path at the top, an entry's name below
};

// The separator of the names in a path: '/' or '\\'.
extern const char PATH_SEPARATOR;

// Holds the directory path (full, or relative to the current directory). It
// is the user's choice and may be a link. dir->name becomes its full path.
int OpenDirectory(const char* path, Directory* dir);
// As OpenDirectory, but the last part of path must be a directory of its
// own: where it is not, the code is ERROR_NOT_OWN_DIRECTORY.
int OpenOwnDirectory(const char* path, Directory* dir);
// Holds the subdirectory name of parent, never through a link; fails as
// OpenOwnDirectory does.
int OpenSubdirectory(const Directory* parent, const char* name, Directory* dir);
void CloseDirectory(Directory* dir);
// dir's path (its parents' names joined), with name after it when name is
// not null; where it does not fit in size characters, an empty text and the
// code for a name too long.
int JoinPath(const Directory* dir, const char* name, char* buffer, int size);
// The same below the top of the walk: the names of dir's parents, but not the
// top's path; the bare name when that does not fit.
void JoinPathBelow(const Directory* dir, const char* name, char* buffer, int size);

int MakeDirectoryAt(const Directory* dir, const char* name);
// Only an empty directory, and never through a link.
int RemoveDirectoryAt(const Directory* dir, const char* name);
// Deletes the file name, or a link (to a file or a directory) standing under
// that name itself, never what it leads to. A directory stays, and so does a
// read-only file: 0 or -1.
int DeleteEntryAt(const Directory* dir, const char* name);
// Gives the entry from the name to, in the same directory. An entry standing
// under to is replaced when replace is set (the link itself, never a
// directory); otherwise it makes the rename fail.
int RenameEntryAt(const Directory* dir, const char* from, const char* to, bool replace);
// 0 when name could be replaced by a rename: nothing stands there, or a file
// that is not read-only, or a link; -1 for a directory or a read-only file.
int CanReplaceAt(const Directory* dir, const char* name);
// The system's code for a name or path too long.
int NameTooLongCode();
// Whether a code says that an entry is in use for now (another program holds
// it open, or a file deleted while held still stands in its directory): a
// deletion may then succeed a moment later.
bool IsInUseCode(int code);
// Clears the read-only attribute, keeping the others.
int MakeWritableAt(const Directory* dir, const char* name);
// Whether name names an entry; a link counts as itself, wherever it leads.
bool EntryExistsAt(const Directory* dir, const char* name);
// Whether the platform would not store name as written: a device name (CON,
// NUL, COM1, ...) or, on Windows, one that ends in a dot or a blank, which
// the path rules strip (".. " would name the parent).
bool IsForbiddenName(const char* name);

// An open file; NO_FILE when none.
struct FileHandle {
  intptr_t value;
};
const intptr_t NO_FILE = -1;

enum FileAccess {
  ACCESS_READ,        // a regular file, for reading (a pipe would block for ever)
  ACCESS_CREATE_NEW,  // a new file, exclusively: anything under the name, a link too, refuses it
  ACCESS_REPLACE,     // created or emptied, for writing; never through a link
  ACCESS_APPEND,      // created if missing, every write at its end; never through a link;
                      // others may append meanwhile (a log that two programs write)
  ACCESS_CREATE_SHARED,  // as ACCESS_CREATE_NEW, and others may append meanwhile
};

int OpenFileAt(const Directory* dir, const char* name, int access, FileHandle* file);
// Reads up to size bytes; *got tells how many, 0 at the end.
int ReadFromFile(FileHandle file, void* buffer, size_t size, size_t* got);
// Reads up to size bytes at offset, without regard to the file's position
// for reading: 0 with *got bytes (0 at the end), or -1. On Windows it moves
// that position, so a thread of its own reads through a handle of its own.
int ReadFileAt(FileHandle file, int64_t offset, void* buffer, size_t size, size_t* got);
// Writes all size bytes, or fails.
int WriteToFile(FileHandle file, const void* bytes, size_t size);
int SeekInFile(FileHandle file, int64_t offset);
int SizeOfFile(FileHandle file, int64_t* size);
// Closes the file (and sets it to NO_FILE) on every way; -1 when the system
// reported a failure, which may be one of a write before it.
int CloseFileHandle(FileHandle* file);

// Whether the file can be opened for reading.
bool FileExists(const char* name);

// Closes its file on every way out.
struct FileHolder {
  FileHandle file = {NO_FILE};
  ~FileHolder() { CloseFileHandle(&file); }
};

// Gives the destination the source's last-write time (and, on Windows, its
// creation and access times).
int CopyFileTimes(FileHandle source, FileHandle destination);

// What tells one file from another, on any path to it.
struct FileIdentity {
  uint64_t device;
  uint64_t index;
  uint32_t links;  // the names it has: more than one for a hard link
};
int IdentifyFile(FileHandle file, FileIdentity* identity);

// Test seam: when set, the hook is asked before each call to the system
// that can fail, with what it is about to do; a non-zero answer makes that
// call fail as if the system had refused it, with the answer as the
// system's code when it is above 1.
enum SystemCall {
  CALL_OPEN,
  CALL_READ,
  CALL_WRITE,
  CALL_CLOSE,
  CALL_SEEK,
  CALL_RENAME,
  CALL_DELETE,
  CALL_MAKE_DIRECTORY,
  CALL_REMOVE_DIRECTORY,
  CALL_LIST,
  CALL_ALLOCATE,
  CALL_IDENTIFY,
};
typedef int (*FaultHook)(int call);
extern FaultHook fault_hook;
// Asks the hook about call: true when it is to fail, with the code set.
bool CallRefused(int call);
