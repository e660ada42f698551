// File-system operations on Windows, on the ANSI interfaces and full paths:
// a name below a held directory is joined to its path, and the held handle,
// opened without FILE_SHARE_DELETE, keeps that path naming what was checked.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/text.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/memory.h"
#include "os/windows_win32.h"

FaultHook fault_hook = nullptr;
const char PATH_SEPARATOR = '\\';

namespace {

typedef DWORD(WINAPI* FinalPathProc)(HANDLE, LPSTR, DWORD, DWORD);

}  // namespace

bool CallRefused(int call) {
  int answer = fault_hook ? fault_hook(call) : 0;
  if (!answer) return false;
  SetLastError(answer > 1                ? answer
               : call == CALL_ALLOCATE ? ERROR_NOT_ENOUGH_MEMORY
               : call == CALL_READ   ? ERROR_READ_FAULT
               : call == CALL_WRITE  ? ERROR_WRITE_FAULT
                                     : ERROR_GEN_FAILURE);
  return true;
}

namespace {

// The 95 family has no links, opens no directory and knows no
// FILE_SHARE_DELETE: there the checks by handle are left out.
bool HasLinks() { return !IsWindows95Family(); }

// The full name of name in dir; false (with the system's code for a name too
// long) when it does not fit the path limit.
bool Named(const Directory* dir, const char* name, char* path) {
  return JoinPath(dir, name, path, PATH_SIZE) == 0;
}

// Opens an entry to look at it, a link as itself where the system can.
HANDLE OpenEntry(const char* path, DWORD access, DWORD share, DWORD flags) {
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags,
                     nullptr);
}

bool IsPlainDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The path the system gives an open entry, links resolved; 0 when it cannot
// tell (systems before Vista lack the call, and have no symbolic links).
DWORD FinalPath(HANDLE entry, char* buffer, DWORD size) {
  FinalPathProc final_path = (FinalPathProc)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                  "GetFinalPathNameByHandleA");
  DWORD length = final_path ? final_path(entry, buffer, size, 0) : 0;
  return length < size ? length : 0;
}

// 1 when the open entry is path itself, not what a link there leads to. A
// reparse point opened as such is always itself; Wine, though, follows a
// Unix symbolic link even then, and would delete what it leads to. The final
// path of the entry then differs from its parent's with its name appended.
bool IsEntryItself(HANDLE entry, const char* path) {
  const char* name = BaseName(path);
  size_t cut = (size_t)(name - path);
  if (cut == 0 && path[0] && path[1] == ':') name = path + (cut = 2);  // "C:name"
  char parent[PATH_SIZE] = ".";
  if (!*name || cut >= sizeof parent) return true;
  if (cut > 0) {
    // "\", "C:" and "C:\" stay whole; elsewhere the separator goes.
    size_t keep = (cut == 1 || (path[1] == ':' && cut <= 3)) ? cut : cut - 1;
    memcpy(parent, path, keep);
    parent[keep] = '\0';
  }
  HANDLE directory =
      OpenEntry(parent, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (directory == INVALID_HANDLE_VALUE) return true;
  char expected[2 * PATH_SIZE], actual[2 * PATH_SIZE];
  DWORD length = FinalPath(directory, expected, PATH_SIZE);
  CloseHandle(directory);
  if (length == 0 || FinalPath(entry, actual, sizeof actual) == 0) return true;
  snprintf(expected + length, sizeof expected - length, "%s%s", expected[length - 1] == '\\' ? "" : "\\",
           name);
  return SameTextIgnoringCase(actual, expected);
}

// Deletes the entry at path itself: a file, or a link to a file or a
// directory; never a plain directory.
int DeleteNamed(const char* path) {
  if (!HasLinks()) return DeleteFileA(path) ? 0 : -1;
  HANDLE entry = OpenEntry(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           FILE_FLAG_OPEN_REPARSE_POINT);
  if (entry == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(entry, &info) && IsEntryItself(entry, path);
  CloseHandle(entry);
  if (!known) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  // A directory link goes as a directory does, and only the link goes.
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path) ? 0 : -1;
  if (IsPlainDirectory(info.dwFileAttributes)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return RemoveDirectoryA(path) ? 0 : -1;
}

// Holds the directory at the full path. own: a link or a reparse point
// there is refused, as is anything not a directory (ERROR_NOT_OWN_DIRECTORY).
int Hold(const char* path, bool own, const Directory* parent, const char* name, Directory* dir) {
  dir->handle = (intptr_t)INVALID_HANDLE_VALUE;
  dir->parent = parent;
  if (strlen(name) >= sizeof dir->name) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  strcpy(dir->name, name);
  if (CallRefused(CALL_OPEN)) return -1;
  // By its attributes, where nothing more can be learnt; Wine marks a Unix
  // symbolic link to a directory by them only.
  DWORD named = GetFileAttributesA(path);
  if (named == INVALID_FILE_ATTRIBUTES) return -1;
  bool plain = own ? IsPlainDirectory(named) : (named & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!plain) {
    SetLastError(own ? ERROR_NOT_OWN_DIRECTORY : ERROR_DIRECTORY);
    return -1;
  }
  if (!HasLinks()) return 0;
  // Reading takes part in sharing: without FILE_SHARE_DELETE nobody can
  // rename or remove the directory while it is held.
  HANDLE directory = OpenEntry(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               own ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  if (directory == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(directory, &info)) {
    DWORD error = GetLastError();
    CloseHandle(directory);
    SetLastError(error);
    return -1;
  }
  if (!(own ? IsPlainDirectory(info.dwFileAttributes) : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
    CloseHandle(directory);
    SetLastError(ERROR_NOT_OWN_DIRECTORY);
    return -1;
  }
  dir->handle = (intptr_t)directory;
  return 0;
}

int OpenTop(const char* path, bool own, Directory* dir) {
  char full[PATH_SIZE];
  if (AbsolutePath(path, full, PATH_SIZE) != 0) {
    dir->handle = (intptr_t)INVALID_HANDLE_VALUE;
    return -1;
  }
  int length = (int)strlen(full);
  if (length > 3 && full[length - 1] == '\\') full[length - 1] = '\0';
  return Hold(full, own, nullptr, full, dir);
}

}  // namespace

int OpenDirectory(const char* path, Directory* dir) { return OpenTop(path, false, dir); }

int OpenOwnDirectory(const char* path, Directory* dir) { return OpenTop(path, true, dir); }

int OpenSubdirectory(const Directory* parent, const char* name, Directory* dir) {
  char path[PATH_SIZE];
  if (!Named(parent, name, path)) {
    dir->handle = (intptr_t)INVALID_HANDLE_VALUE;
    return -1;
  }
  return Hold(path, true, parent, name, dir);
}

void CloseDirectory(Directory* dir) {
  if ((HANDLE)dir->handle != INVALID_HANDLE_VALUE) CloseHandle((HANDLE)dir->handle);
  dir->handle = (intptr_t)INVALID_HANDLE_VALUE;
}

int MakeDirectoryAt(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  if (!Named(dir, name, path) || CallRefused(CALL_MAKE_DIRECTORY)) return -1;
  return CreateDirectoryA(path, nullptr) ? 0 : -1;
}

int RemoveDirectoryAt(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  if (!Named(dir, name, path) || CallRefused(CALL_REMOVE_DIRECTORY)) return -1;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && !IsPlainDirectory(attributes)) {
    SetLastError(ERROR_DIRECTORY);
    return -1;
  }
  return RemoveDirectoryA(path) ? 0 : -1;
}

int DeleteEntryAt(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  if (!Named(dir, name, path) || CallRefused(CALL_DELETE)) return -1;
  return DeleteNamed(path);
}

int RenameEntryAt(const Directory* dir, const char* from, const char* to, bool replace) {
  char source[PATH_SIZE], target[PATH_SIZE];
  if (!Named(dir, from, source) || !Named(dir, to, target) || CallRefused(CALL_RENAME)) return -1;
  if (MoveFileA(source, target)) return 0;
  DWORD code = GetLastError();
  if (!replace || (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS)) return -1;
  // What stands there stays until the new entry takes its place: one step
  // from NT on, which refuses a directory and a read-only file there.
  typedef BOOL(WINAPI * MoveFileExProc)(LPCSTR, LPCSTR, DWORD);
  MoveFileExProc move =
      (MoveFileExProc)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "MoveFileExA");
  if (move && move(source, target, MOVEFILE_REPLACE_EXISTING)) return 0;
  if (move && GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return -1;
  // The 95 family: the old entry goes aside, and comes back if the move fails.
  char aside[PATH_SIZE + 4];
  if (CanReplaceAt(dir, to) != 0) return -1;
  if (snprintf(aside, sizeof aside, "%s.old", target) >= PATH_SIZE) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  if (!MoveFileA(target, aside)) return -1;
  if (!MoveFileA(source, target)) {
    code = GetLastError();
    MoveFileA(aside, target);
    SetLastError(code);
    return -1;
  }
  DeleteFileA(aside);
  return 0;
}

int CanReplaceAt(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  if (!Named(dir, name, path)) return -1;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return 0;
}

int NameTooLongCode() { return ERROR_FILENAME_EXCED_RANGE; }

// Access is denied, too, to a file that is deleted but still held open.
bool IsInUseCode(int code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED ||
         code == ERROR_DIR_NOT_EMPTY;
}

int MakeWritableAt(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  if (!Named(dir, name, path)) return -1;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    SetLastError(ERROR_ACCESS_DENIED);  // what a link leads to is not ours to change
    return -1;
  }
  return SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY) ? 0 : -1;
}

bool EntryExistsAt(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  return Named(dir, name, path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsForbiddenName(const char* name) {
  static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  size_t full_length = strlen(name);
  if (full_length && (name[full_length - 1] == '.' || name[full_length - 1] == ' ')) return true;
  char stem[16];
  size_t length = 0;
  while (name[length] && name[length] != '.' && name[length] != ' ' && length < sizeof stem - 1) {
    char c = name[length];
    stem[length++] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  }
  stem[length] = '\0';
  for (const char* device : devices)
    if (strcmp(stem, device) == 0) return true;
  return length == 4 && (strncmp(stem, "COM", 3) == 0 || strncmp(stem, "LPT", 3) == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}

int OpenFileAt(const Directory* dir, const char* name, int access, FileHandle* file) {
  file->value = NO_FILE;
  char path[PATH_SIZE];
  if (!Named(dir, name, path) || CallRefused(CALL_OPEN)) return -1;
  if (access == ACCESS_REPLACE || access == ACCESS_APPEND) {
    // Never written through: a link standing there is refused.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return -1;
    }
  }
  static const DWORD dispositions[] = {OPEN_EXISTING, CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, CREATE_NEW};
  DWORD flags = access == ACCESS_READ ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_ATTRIBUTE_NORMAL;
  // Where a link stands, even one that leads nowhere, the name exists.
  if (dispositions[access] == CREATE_NEW && HasLinks()) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  bool shared = access == ACCESS_READ || access >= ACCESS_APPEND;
  HANDLE handle = CreateFileA(path, access == ACCESS_READ ? GENERIC_READ : GENERIC_WRITE,
                              FILE_SHARE_READ | (shared ? FILE_SHARE_WRITE : 0), nullptr,
                              dispositions[access], flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  if (access == ACCESS_READ && GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    SetLastError(ERROR_NOT_REGULAR_FILE);
    return -1;
  }
  if (access == ACCESS_APPEND && SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    CloseHandle(handle);
    return -1;
  }
  file->value = (intptr_t)handle;
  return 0;
}

int ReadFromFile(FileHandle file, void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (CallRefused(CALL_READ)) return -1;
  DWORD read = 0;
  if (size > 0x40000000) size = 0x40000000;
  if (!::ReadFile((HANDLE)file.value, buffer, (DWORD)size, &read, nullptr)) return -1;
  *got = read;
  return 0;
}

// Windows 95 reads at an offset only through a handle opened for
// overlapped access: here the handle's position is set first.
int ReadFileAt(FileHandle file, int64_t offset, void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (CallRefused(CALL_READ)) return -1;
  LONG high = (LONG)(offset >> 32);
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer((HANDLE)file.value, (LONG)(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  DWORD read = 0;
  if (!::ReadFile((HANDLE)file.value, buffer, (DWORD)(size > 0x40000000 ? 0x40000000 : size), &read, nullptr))
    return -1;
  *got = read;
  return 0;
}

int WriteToFile(FileHandle file, const void* bytes, size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    if (CallRefused(CALL_WRITE)) return -1;
    DWORD written = 0;
    DWORD block = size > 0x40000000 ? 0x40000000 : (DWORD)size;
    if (!::WriteFile((HANDLE)file.value, next, block, &written, nullptr)) return -1;
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);
      return -1;
    }
    next += written;
    size -= written;
  }
  return 0;
}

int SeekInFile(FileHandle file, int64_t offset) {
  if (CallRefused(CALL_SEEK)) return -1;
  LONG high = (LONG)(offset >> 32);
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer((HANDLE)file.value, (LONG)(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
  return low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR ? -1 : 0;
}

int SizeOfFile(FileHandle file, int64_t* size) {
  // GetFileSize, since Windows 95 has no GetFileSizeEx. Its failure value is
  // also the low half of a valid size: the error code tells them apart.
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetFileSize((HANDLE)file.value, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  *size = (int64_t)(((uint64_t)high << 32) | low);
  return 0;
}

int CloseFileHandle(FileHandle* file) {
  if (file->value == NO_FILE) return 0;
  HANDLE handle = (HANDLE)file->value;
  file->value = NO_FILE;
  if (CallRefused(CALL_CLOSE)) {
    CloseHandle(handle);
    SetLastError(ERROR_WRITE_FAULT);
    return -1;
  }
  return CloseHandle(handle) ? 0 : -1;
}

int CopyFileTimes(FileHandle source, FileHandle destination) {
  FILETIME created, accessed, written;
  if (!GetFileTime((HANDLE)source.value, &created, &accessed, &written)) return -1;
  return SetFileTime((HANDLE)destination.value, &created, &accessed, &written) ? 0 : -1;
}

int IdentifyFile(FileHandle file, FileIdentity* identity) {
  if (CallRefused(CALL_IDENTIFY)) return -1;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle((HANDLE)file.value, &info)) return -1;
  identity->device = info.dwVolumeSerialNumber;
  identity->index = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
  identity->links = info.nNumberOfLinks;
  return 0;
}

