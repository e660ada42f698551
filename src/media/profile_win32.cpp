// The INF file read by Windows' own profile reader.
#include <windows.h>

#include "media/profile.h"

int ReadProfileString(const char* section, const char* key, const char* default_value,
                      char* buffer, int size, const char* file) {
  return (int)GetPrivateProfileStringA(section, key, default_value, buffer, size, file);
}
