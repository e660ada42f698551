// The system's services besides files, on Windows.
#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "os/platform.h"

int ReadCurrentDir(char* buffer, int size) {
  if (!_getcwd(buffer, size)) return 0;
  return (int)strlen(buffer);
}

int EnterDirectory(const char* path) { return _chdir(path) == 0 ? 0 : -1; }

int ChangeDrive(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  return _chdrive(letter - 64) == 0 ? 0 : -1;
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

static_assert(sizeof(LocalTime) == sizeof(SYSTEMTIME), "LocalTime is a SYSTEMTIME");

void ReadLocalTime(LocalTime* now) { GetLocalTime(reinterpret_cast<SYSTEMTIME*>(now)); }

int ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? (int)info.dwNumberOfProcessors : 1;
}

// Windows programs take no signals; Cancel in a box is their stop.
void WatchInterrupts() {}
