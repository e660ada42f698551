// Path resolution on Windows. Each component's long name comes from the file
// system (FindFirstFileA), not from the shell's display name: a display name
// may hide a known extension or be translated ("Program Files" under a
// localised name), and a path built from it would name nothing.
#include <windows.h>

#include <cstring>

#include "base/text.h"
#include "os/longpath.h"

// Room for a result that grows past the path limit, so its length can be told.
static const int RESULT_SIZE = 2 * PATH_SIZE;

// \\server or \\server\share: kept as written.
static bool IsUncHead(const char* path) {
  if (path[0] != '\\' || path[1] != '\\') return false;
  const char* server_end = strchr(path + 2, '\\');
  if (!server_end) return true;
  return strchr(server_end + 1, '\\') == nullptr;
}

static bool Append(char* result, const char* separator, const char* name) {
  size_t used = strlen(result);
  if (used + strlen(separator) + strlen(name) >= (size_t)RESULT_SIZE) return false;
  strcat(result, separator);
  strcat(result, name);
  return true;
}

// 1 resolved, 0 not (with the system's code).
static int Resolve(char* path, char* result) {
  size_t length = strlen(path);
  if (length == 0 || strcmp(path, "\\") == 0 || strcmp(path + 1, ":") == 0 ||
      strcmp(path + 1, ":\\") == 0) {
    strcpy(result, path);
    return 1;
  }
  if (IsUncHead(path)) {
    strcpy(result, path);
    return 1;
  }
  char* last = strrchr(path, '\\');
  if (last && last[1] != '\0') {
    *last = '\0';
    int resolved = Resolve(path, result);
    *last = '\\';
    if (!resolved) return 0;
  }
  const char* component = last ? last + 1 : path;
  if (strpbrk(component, "*?")) {  // a pattern names no single object
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path, &data);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  const char* separator = (result[0] && result[strlen(result) - 1] == '\\') ? "" : "\\";
  if (Append(result, separator, data.cFileName)) return 1;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return 0;
}

int ResolveLongName(char* full_path, char* result) {
  result[0] = '\0';
  return Resolve(full_path, result) ? 0 : -1;
}

int AbsolutePath(const char* path, char* output, int size) {
  if (!path[0]) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // an empty name names nothing
    return -1;
  }
  DWORD length = GetFullPathNameA(path, (DWORD)size, output, nullptr);
  if (length >= (DWORD)size) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return length > 0 && length < (DWORD)size ? 0 : -1;
}
