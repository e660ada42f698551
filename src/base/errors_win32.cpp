// The error channel on Windows: GetLastError, and FormatMessage's words.
#include <windows.h>

#include <cstdio>

#include "base/errors.h"

int LastSystemError() { return (int)GetLastError(); }

void SetSystemError(int code) { SetLastError((DWORD)code); }

// The system's words for a code, without the line break and period that end
// them; the code in digits when the system has none.
const char* PlatformErrorText(int code, char* buffer, int size) {
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
