// Path resolution of the command-line build: the absolute form of a path
// whose every component exists. Names are kept as written (the file system
// has no short names), "." and ".." are removed as text, like the Windows
// full-path service does, and links are not resolved.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/limits.h"
#include "os/longpath.h"

int AbsolutePath(const char* path, char* output, int size) {
  if (!path[0]) {
    errno = ENOENT;  // an empty name names nothing
    return -1;
  }
  char joined[4096];
  joined[0] = '\0';
  if (path[0] != '/') {
    if (!getcwd(joined, sizeof joined - 1)) return -1;
    strcat(joined, "/");
  }
  errno = ENAMETOOLONG;  // for what does not fit
  if (strlen(joined) + strlen(path) >= sizeof joined) return -1;
  strcat(joined, path);
  // Remove ".", ".." and doubled separators as text.
  int length = 0;
  for (const char* p = joined; *p;) {
    while (*p == '/') ++p;
    const char* end = strchr(p, '/');
    size_t part = end ? (size_t)(end - p) : strlen(p);
    if (part == 0 || (part == 1 && p[0] == '.')) {
      // nothing
    } else if (part == 2 && p[0] == '.' && p[1] == '.') {
      while (length > 0 && output[length - 1] != '/') --length;
      if (length > 0) --length;
    } else {
      if (length + 1 + (int)part >= size) return -1;
      output[length++] = '/';
      memcpy(output + length, p, part);
      length += (int)part;
    }
    p += part;
  }
  if (length == 0) {
    if (size < 2) return -1;
    output[length++] = '/';
  }
  output[length] = '\0';
  return 0;
}

int ResolveLongName(char* full_path, char* result) {
  // Each prefix must exist; the components of a full path are already final.
  result[0] = '\0';
  if (full_path[0] != '/') {
    errno = ENOENT;
    return -1;
  }
  for (char* p = full_path + 1;; ++p) {
    if (*p != '/' && *p != '\0') continue;
    char kept = *p;
    *p = '\0';
    struct stat info;
    int found = lstat(full_path, &info);
    *p = kept;
    if (found != 0) return -1;
    if (!kept) break;
  }
  if (strlen(full_path) >= (size_t)(2 * PATH_SIZE)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  strcpy(result, full_path);
  return 0;
}
