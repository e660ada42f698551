// The error channel on Windows: GetLastError, and FormatMessage's words.
#include <windows.h>

#include <cstdio>

#include "base/errors.h"

int LastSystemError() { return (int)GetLastError(); }

void SetSystemError(int code) { SetLastError((DWORD)code); }

// The system's words for a code, without the line break and period that end
// them; the code in digits when the system has none.
const char* SystemErrorText(int code, char* buffer, int size) {
  if (code == ERROR_NOT_REGULAR_FILE) return "Not a regular file but a pipe, a socket or a device";
  if (code == ERROR_BROKEN_LINK) return "A link to a file that is not there";
  if (code == ERROR_FILE_ENDED_EARLY) return "The file ended before its size";
  if (code == ERROR_FILE_CHANGED) return "The file changed since it was listed";
  if (code == ERROR_NOT_OWN_DIRECTORY) return "A link or not a directory";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                (DWORD)code, 0, buffer, (DWORD)size, nullptr);
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.'))
    --length;
  if (length == 0) snprintf(buffer, (size_t)size, "system error %d", code);
  else buffer[length] = '\0';
  return buffer;
}

int OutOfMemoryCode() { return ERROR_NOT_ENOUGH_MEMORY; }
