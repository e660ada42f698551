// Path resolution of the command-line build: the absolute form of a path
// whose every component exists. Names are kept as written (the file system
// has no short names), "." and ".." are removed as text, like the Windows
// full-path service does, and links are not resolved.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "fileutil/paths.h"
#include "fileutil/longpath.h"

static const int RESULT_SIZE = 2 * PATH_SIZE;

int ResolveLongName(char* full_path, char* result) {
  // Each prefix must exist; the components of a full path are already final.
  result[0] = '\0';
  std::string prefix;
  const char* p = full_path;
  if (*p != '/') return 0;
  while (*p) {
    while (*p == '/') ++p;
    if (!*p) break;
    const char* end = strchr(p, '/');
    size_t length = end ? (size_t)(end - p) : strlen(p);
    prefix += '/';
    prefix.append(p, length);
    struct stat info;
    if (lstat(prefix.c_str(), &info) != 0) return 0;
    p += length;
  }
  if (prefix.empty()) prefix = "/";
  if (prefix.size() >= (size_t)RESULT_SIZE) return 0;
  strcpy(result, prefix.c_str());
  return 1;
}

int FullLongPath(const char* path, char* output, int capacity) {
  if (!path[0]) return 0;
  std::string absolute;
  if (path[0] != '/') {
    char current[4096];
    if (!getcwd(current, sizeof current)) return 0;
    absolute = current;
    absolute += '/';
  }
  absolute += path;

  // Remove "." and ".." and doubled separators as text.
  std::string full;
  size_t i = 0;
  while (i < absolute.size()) {
    while (i < absolute.size() && absolute[i] == '/') ++i;
    size_t end = absolute.find('/', i);
    if (end == std::string::npos) end = absolute.size();
    std::string component = absolute.substr(i, end - i);
    i = end;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      size_t cut = full.rfind('/');
      full.erase(cut == std::string::npos ? 0 : cut);
      continue;
    }
    full += '/';
    full += component;
  }
  if (full.empty()) full = "/";
  if (full.size() >= (size_t)RESULT_SIZE) return 0;

  char work[RESULT_SIZE];
  strcpy(work, full.c_str());
  char result[RESULT_SIZE];
  if (!ResolveLongName(work, result)) return 0;
  int resolved = (int)strlen(result);
  if (resolved < capacity) memcpy(output, result, resolved + 1);
  return resolved;
}
