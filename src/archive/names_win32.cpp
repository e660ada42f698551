// Names on Windows: the narrow calls already use the code page that the
// archive holds, and a name listed there is one that Windows holds, so names
// pass as they are.
#include "archive/names.h"

int OpenNameCoding(int code_page, NameCoding* coding) {
  coding->code_page = code_page;
  return 0;
}

const char* NameToArchive(const NameCoding*, const char* name, char*, int, char*, int) { return name; }

const char* NameFromArchive(const NameCoding*, const char* stored, char*, int, const char** why) {
  *why = nullptr;
  return stored;
}
