// Not built yet: answers with a clear message and a failure.
#include "fileutil/dirscan.h"
#include "ui/messages.h"

int FindFirstEntry(const char*, uint16_t, DirSearch* search) {
  search->handle = nullptr;
  return FindExhausted;
}
int FindNextEntry(DirSearch*) { return FindExhausted; }
int CloseSearch(DirSearch*) { return 0; }
