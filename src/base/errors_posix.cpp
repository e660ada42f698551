// The error channel on POSIX: errno, and strerror_r's words.
#include <errno.h>

#include <cstring>

#include "base/errors.h"

int LastSystemError() { return errno; }

void SetSystemError(int code) { errno = code; }

const char* PlatformErrorText(int code, char* buffer, int size) {
  return strerror_r(code, buffer, (size_t)size);
}

int OutOfMemoryCode() { return ENOMEM; }
