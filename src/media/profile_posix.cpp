// The INF file read as the Windows profile reader reads it: "[section]"
// lines, "key = value" lines, ';' comments; names compared ignoring case,
// blanks around keys and values dropped, quotes around a value too; CR LF
// or LF line ends. Only the first section of a name counts.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "files/filecopy.h"
#include "media/profile.h"

namespace {

char* Trim(char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  size_t length = strlen(text);
  while (length > 0 && strchr(" \t\r\n", text[length - 1])) text[--length] = '\0';
  return text;
}

char* Unquote(char* value) {
  size_t length = strlen(value);
  if (length >= 2 && (value[0] == '"' || value[0] == '\'') && value[length - 1] == value[0]) {
    value[length - 1] = '\0';
    return value + 1;
  }
  return value;
}

// Copies text and its end into buffer, cut to size; the characters copied.
int CopyCut(char* buffer, int size, const char* text) {
  int length = (int)strlen(text);
  if (length > size - 1) length = size - 1;
  memcpy(buffer, text, (size_t)length);
  buffer[length] = '\0';
  return length;
}

// Appends a key name to the list in buffer (length used so far). A list
// that does not fit is cut, the last name with it, and ends in two zeros
// at the end of the buffer, as the Windows reader leaves it: false then.
bool AppendName(char* buffer, int size, int* length, const char* name) {
  int room = size - 2 - *length;
  int name_length = (int)strlen(name);
  if (name_length + 1 <= room) {
    memcpy(buffer + *length, name, (size_t)name_length + 1);
    *length += name_length + 1;
    return true;
  }
  memcpy(buffer + *length, name, (size_t)room);
  buffer[size - 2] = buffer[size - 1] = '\0';
  *length = size - 2;
  return false;
}

}  // namespace

// ".\ZQK9150.INF": a Windows path, here with slashes.
static void UnixPath(const char* file, char* path) {
  CopyCut(path, PATH_SIZE, file);
  for (char* p = path; *p; ++p)
    if (*p == '\\') *p = '/';
}

int ProfileFileExists(const char* file) {
  char path[PATH_SIZE];
  UnixPath(file, path);
  struct stat info;
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

int ReadProfileString(const char* section, const char* key, const char* default_value,
                      char* buffer, int size, const char* file) {
  if (size < 2) return 0;
  char path[PATH_SIZE];
  UnixPath(file, path);
  int length = 0;
  const char* found = nullptr;
  FILE* ini = fopen(path, "rb");
  char* line = nullptr;
  size_t capacity = 0;
  bool inside = false, seen = false, open = true;
  while (ini && open && !found && getline(&line, &capacity, ini) >= 0) {
    char* text = Trim(line);
    if (*text == ';' || *text == '\0') continue;
    if (*text == '[') {
      if (seen) break;
      char* end = strchr(text, ']');
      if (end) *end = '\0';
      inside = seen = SameTextIgnoringCase(Trim(text + 1), section);
      continue;
    }
    if (!inside) continue;
    char* equals = strchr(text, '=');
    char* value = nullptr;
    if (equals) {
      *equals = '\0';
      value = Unquote(Trim(equals + 1));
    }
    char* name = Trim(text);
    if (!*name) continue;
    if (!key)
      open = AppendName(buffer, size, &length, name);
    else if (SameTextIgnoringCase(name, key))
      found = value ? value : default_value;
  }
  if (key) length = CopyCut(buffer, size, found ? found : default_value);
  else if (open) buffer[length] = buffer[length + 1] = '\0';
  free(line);
  if (ini) fclose(ini);
  return length;
}
