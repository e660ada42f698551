// File-system operations on Windows, on the C runtime's current drive and
// directory and the ANSI interfaces.
#include <direct.h>
#include <io.h>
#include <windows.h>

#include "fileutil/fsops.h"
#include "ui/messages.h"

int ReadCurrentDir(char* buffer, int size) {
  if (!_getcwd(buffer, size)) return 0;
  return (int)strlen(buffer);
}

int EnterDirectory(const char* path) { return _chdir(path) == 0 ? 0 : -1; }

int MakeDir(const char* path) { return _mkdir(path) == 0 ? 0 : -1; }

int RemoveDir(const char* path) { return _rmdir(path) == 0 ? 0 : -1; }

int DeleteFileNamed(const char* name) { return DeleteFileA(name) ? 0 : -1; }

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

int RemoveDirectoryLink(const char* name) { return RemoveDirectoryA(name) ? 0 : -1; }

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
