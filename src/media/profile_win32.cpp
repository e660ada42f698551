// The INF file read by Windows' own profile reader.
#include <windows.h>

#include "media/profile.h"

int ReadProfileString(const char* section, const char* key, const char* default_value,
                      char* buffer, int size, const char* file) {
  return (int)GetPrivateProfileStringA(section, key, default_value, buffer, size, file);
}

int ProfileFileExists(const char* file) {
  DWORD attributes = GetFileAttributesA(file);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
