// Names on Windows: the narrow calls already use the code page that the
// archive holds, so names pass as they are.
#include <cstdio>
#include <cstring>

#include "fileutil/names.h"

const char SUPPORTED_CODE_PAGES[] = "the system's own";

int OpenNameCoding(int code_page, NameCoding* coding) {
  coding->code_page = code_page;
  return 0;
}

int NameToArchive(const NameCoding*, const char* name, char* stored, int size, char* why, int why_size) {
  size_t length = strlen(name);
  if (length >= (size_t)size) {
    snprintf(why, why_size, "the name is too long");
    return -1;
  }
  memcpy(stored, name, length + 1);
  return 0;
}

int NameFromArchive(const NameCoding*, const char* stored, char* name, int size) {
  size_t length = strlen(stored);
  if (length >= (size_t)size) return NAME_TOO_LONG;
  memcpy(name, stored, length + 1);
  return 0;
}
