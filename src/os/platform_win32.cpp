// The system's services besides files, on Windows.
#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "os/platform.h"

// A length of size or more is the room that was wanted.
static int Fitted(DWORD length, int size) {
  if (length > 0 && length < (DWORD)size) return 0;
  if (length != 0) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return -1;
}

int ReadCurrentDir(char* buffer, int size) { return Fitted(GetCurrentDirectoryA((DWORD)size, buffer), size); }

int EnterDirectory(const char* path) { return _chdir(path) == 0 ? 0 : -1; }

int ChangeDrive(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  return _chdrive(letter - 64) == 0 ? 0 : -1;
}

int ReadWindowsDir(char* buffer, int size) { return Fitted(GetWindowsDirectoryA(buffer, size), size); }

// Appends "\\name" to the directory of length characters in buffer.
static int JoinName(UINT length, const char* name, char* buffer, int size) {
  if (Fitted(length, size) != 0) return -1;
  int written = snprintf(buffer + length, size - length, "\\%s", name);
  if (written > 0 && written < size - (int)length) return 0;
  buffer[0] = '\0';
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return -1;
}

int SystemFilePath(const char* name, char* buffer, int size) {
  return JoinName(GetSystemDirectoryA(buffer, size), name, buffer, size);
}

int WindowsFilePath(const char* name, char* buffer, int size) {
  return JoinName(GetWindowsDirectoryA(buffer, size), name, buffer, size);
}

int ReadTempDir(char* buffer, int size) { return Fitted(GetTempPathA(size, buffer), size); }

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
