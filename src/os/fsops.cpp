// What both platforms' file-system operations share.
#include <cstring>

#include "base/errors.h"
#include "os/fsops.h"

// Appends part to buffer, with a separator unless it is the first part or
// the text before it ends in one; false when it does not fit.
static bool AddPart(char* buffer, int* length, int size, const char* part) {
  int part_length = (int)strlen(part);
  bool separate = *length > 0 && buffer[*length - 1] != '/' && buffer[*length - 1] != '\\';
  if (*length + separate + part_length >= size) return false;
  if (separate) buffer[(*length)++] = PATH_SEPARATOR;
  memcpy(buffer + *length, part, (size_t)part_length + 1);
  *length += part_length;
  return true;
}

// Adds dir's path, or only the names below the top when below is set.
static bool AddDirectory(const Directory* dir, bool below, char* buffer, int* length, int size) {
  if (!dir->parent) return below || AddPart(buffer, length, size, dir->name);
  return AddDirectory(dir->parent, below, buffer, length, size) && AddPart(buffer, length, size, dir->name);
}

int JoinPath(const Directory* dir, const char* name, char* buffer, int size) {
  int length = 0;
  if (size > 0) buffer[0] = '\0';
  if ((dir && !AddDirectory(dir, false, buffer, &length, size)) || (name && !AddPart(buffer, &length, size, name))) {
    if (size > 0) buffer[0] = '\0';
    SetSystemError(NameTooLongCode());
    return -1;
  }
  return 0;
}

void JoinPathBelow(const Directory* dir, const char* name, char* buffer, int size) {
  int length = 0;
  buffer[0] = '\0';
  if (AddDirectory(dir, true, buffer, &length, size) && AddPart(buffer, &length, size, name)) return;
  length = 0;
  buffer[0] = '\0';
  AddPart(buffer, &length, size, name);
}

bool FileExists(const char* name) {
  FileHandle file;
  if (OpenFileAt(nullptr, name, ACCESS_READ, &file) != 0) return false;
  CloseFileHandle(&file);
  return true;
}
