// The command-line build has no floppy set to build, so there is no profile
// reader: every section reads as empty.
#include <cstring>

#include "media/profile.h"

int ReadProfileString(const char*, const char* key, const char* default_value, char* buffer,
                      int size, const char*) {
  if (size < 2) return 0;
  if (!key) {
    buffer[0] = buffer[1] = '\0';
    return 0;
  }
  strncpy(buffer, default_value, size - 1);
  buffer[size - 1] = '\0';
  return (int)strlen(buffer);
}
