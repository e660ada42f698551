// File-system operations on Windows, on the C runtime's current drive and
// directory and the ANSI interfaces.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "fileutil/fsops.h"
#include "fileutil/paths.h"
#include "ui/messages.h"

namespace {

typedef DWORD(WINAPI* FinalPathProc)(HANDLE, LPSTR, DWORD, DWORD);

// Windows 95/98 has no links, opens no directory and knows no
// FILE_SHARE_DELETE: there the checks by handle are left out.
bool HasLinks() { return (GetVersion() & 0x80000000u) == 0; }

// Opens an entry to look at it, a link as itself where the system can.
HANDLE OpenEntry(const char* path, DWORD access, DWORD share, DWORD flags) {
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool IsPlainDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The path the system gives an open entry, links resolved; 0 when it cannot
// tell (systems before Vista lack the call, and have no symbolic links).
DWORD FinalPath(HANDLE entry, char* buffer, DWORD size) {
  FinalPathProc final_path = (FinalPathProc)(void*)GetProcAddress(
      GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
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
  HANDLE directory = OpenEntry(parent, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (directory == INVALID_HANDLE_VALUE) return true;
  char expected[2 * PATH_SIZE], actual[2 * PATH_SIZE];
  DWORD length = FinalPath(directory, expected, PATH_SIZE);
  CloseHandle(directory);
  if (length == 0 || FinalPath(entry, actual, sizeof actual) == 0) return true;
  snprintf(expected + length, sizeof expected - length, "%s%s",
           expected[length - 1] == '\\' ? "" : "\\", name);
  return SameTextIgnoringCase(actual, expected);
}

}  // namespace

int ReadCurrentDir(char* buffer, int size) {
  if (!_getcwd(buffer, size)) return 0;
  return (int)strlen(buffer);
}

int EnterDirectory(const char* path) { return _chdir(path) == 0 ? 0 : -1; }

int MakeDir(const char* path) { return _mkdir(path) == 0 ? 0 : -1; }

int RemoveDir(const char* path) { return _rmdir(path) == 0 ? 0 : -1; }

int DeleteFileNamed(const char* name) {
  if (!HasLinks()) return DeleteFileA(name) ? 0 : -1;
  HANDLE entry = OpenEntry(name, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           FILE_FLAG_OPEN_REPARSE_POINT);
  if (entry == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(entry, &info) && IsEntryItself(entry, name);
  CloseHandle(entry);
  if (!known) return -1;
  // A directory link goes as a directory does, and only the link goes.
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(name) ? 0 : -1;
  if (IsPlainDirectory(info.dwFileAttributes)) return -1;
  return RemoveDirectoryA(name) ? 0 : -1;
}

int RenameFileNamed(const char* from, const char* to) { return MoveFileA(from, to) ? 0 : -1; }

int MakeWritable(const char* name) {
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  return SetFileAttributesA(name, attributes & ~FILE_ATTRIBUTE_READONLY) ? 0 : -1;
}

int IsDirectoryLink(const char* name) {
  DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int64_t OpenFileSize(FILE* file) {
  HANDLE handle = (HANDLE)_get_osfhandle(_fileno(file));
  if (handle == INVALID_HANDLE_VALUE) return -1;
  // GetFileSize, since Windows 95 has no GetFileSizeEx. Its failure value is
  // also the low half of a valid size: the error code tells them apart.
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetFileSize(handle, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return (int64_t)(((uint64_t)high << 32) | low);
}

int ReadWindowsDir(char* buffer, int size) {
  UINT length = GetWindowsDirectoryA(buffer, size);
  return length < (UINT)size ? (int)length : 0;
}

// Appends "\\name" to the directory of length characters in buffer.
static int JoinName(UINT length, const char* name, char* buffer, int size) {
  if (length == 0 || length >= (UINT)size) return 0;
  int written = snprintf(buffer + length, size - length, "\\%s", name);
  return written > 0 && written < size - (int)length ? (int)length + written : 0;
}

int SystemFilePath(const char* name, char* buffer, int size) {
  return JoinName(GetSystemDirectoryA(buffer, size), name, buffer, size);
}

int WindowsFilePath(const char* name, char* buffer, int size) {
  return JoinName(GetWindowsDirectoryA(buffer, size), name, buffer, size);
}

int ReadTempDir(char* buffer, int size) {
  DWORD length = GetTempPathA(size, buffer);
  return length < (DWORD)size ? (int)length : 0;
}

void PauseMs(int milliseconds) { Sleep(milliseconds); }

int ChangeDrive(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  return _chdrive(letter - 64) == 0 ? 0 : -1;
}

void FileTimeCopy(FILE* destination, FILE* source) {
  FILETIME created, accessed, written;
  HANDLE from = (HANDLE)_get_osfhandle(_fileno(source));
  HANDLE to = (HANDLE)_get_osfhandle(_fileno(destination));
  if (!GetFileTime(from, &created, &accessed, &written)) {
    ErrorPrintf("Error getting file time.\n");
    return;
  }
  if (!SetFileTime(to, &created, &accessed, &written)) ErrorPrintf("Error setting file time.\n");
}

int IsForbiddenName(const char* name) {
  static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  size_t full_length = strlen(name);
  if (full_length && (name[full_length - 1] == '.' || name[full_length - 1] == ' ')) return 1;
  char stem[16];
  size_t length = 0;
  while (name[length] && name[length] != '.' && name[length] != ' ' && length < sizeof stem - 1) {
    char c = name[length];
    stem[length++] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  }
  stem[length] = '\0';
  for (const char* device : devices)
    if (strcmp(stem, device) == 0) return 1;
  return length == 4 && (strncmp(stem, "COM", 3) == 0 || strncmp(stem, "LPT", 3) == 0) &&
         stem[3] >= '0' && stem[3] <= '9';
}

FILE* OpenNullSink() { return fopen("NUL", "wb"); }
int HasDriveLetters() { return 1; }

FILE* OpenRegularFile(const char* name) { return fopen(name, "rb"); }

int HoldDirectory(const char* path, HeldDirectory* held) {
  // By its attributes, where nothing more can be learnt; Wine marks a Unix
  // symbolic link to a directory by them only.
  DWORD named = GetFileAttributesA(path);
  int judged = named == INVALID_FILE_ATTRIBUTES ? -1
               : IsPlainDirectory(named)          ? 0
                                                  : NOT_OWN_DIRECTORY;
  held->handle = (intptr_t)INVALID_HANDLE_VALUE;
  if (!HasLinks() || judged != 0) return judged;
  // Reading takes part in sharing: without FILE_SHARE_DELETE nobody can
  // rename or remove the directory while it is held.
  HANDLE directory = OpenEntry(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               FILE_FLAG_OPEN_REPARSE_POINT);
  if (directory == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION info;
  judged = !GetFileInformationByHandle(directory, &info) ? -1
           : IsPlainDirectory(info.dwFileAttributes)     ? 0
                                                         : NOT_OWN_DIRECTORY;
  if (judged == 0)
    held->handle = (intptr_t)directory;
  else
    CloseHandle(directory);
  return judged;
}

int HoldCurrentDirectory(HeldDirectory* held) {
  held->handle = (intptr_t)INVALID_HANDLE_VALUE;
  if (!HasLinks()) return 0;
  HANDLE directory = OpenEntry(".", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  held->handle = (intptr_t)directory;
  return directory != INVALID_HANDLE_VALUE ? 0 : -1;
}

// By name: the hold keeps the name on what was checked.
int EnterHeldDirectory(const HeldDirectory*, const char* path) { return EnterDirectory(path); }

int IsHeldCurrent(const HeldDirectory* held) {
  if (!HasLinks()) return 1;  // nothing could be held, nor swapped for a link
  HANDLE current = OpenEntry(".", FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (current == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION here, kept;
  bool same = GetFileInformationByHandle(current, &here) &&
              GetFileInformationByHandle((HANDLE)held->handle, &kept) &&
              here.dwVolumeSerialNumber == kept.dwVolumeSerialNumber &&
              here.nFileIndexHigh == kept.nFileIndexHigh &&
              here.nFileIndexLow == kept.nFileIndexLow;
  CloseHandle(current);
  return same;
}

void ReleaseDirectory(HeldDirectory* held) {
  if ((HANDLE)held->handle != INVALID_HANDLE_VALUE) CloseHandle((HANDLE)held->handle);
  held->handle = (intptr_t)INVALID_HANDLE_VALUE;
}

FILE* CreateNewFile(const char* name) {
  // Where a link stands, even one that leads nowhere, the name exists.
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (HasLinks() ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE file =
      CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  int fd = _open_osfhandle((intptr_t)file, _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  FILE* stream = _fdopen(fd, "wb");
  if (!stream) _close(fd);
  return stream;
}

int EntryExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
