// Directory scanning with DOS attribute masks, on top of the platform's
// file search.
#include "os/dirscan.h"

#include <cstring>

#include "base/errors.h"
#include "os/dirscan_platform.h"
#include "os/memory.h"

namespace {

// FillEntry's result for an entry that the mask leaves out.
const int FindRejected = 10003;

int FillEntry(DirSearch* search) {
  uint32_t attributes = PlatformEntryAttributes(search);
  if (attributes & search->exclusion) return FindRejected;
  const char* platform_name = PlatformEntryName(search);
  size_t length = strlen(platform_name);
  char* name = (char*)AllocateMemory(length + 1);
  if (!name) return FindNoMemory;
  memcpy(name, platform_name, length + 1);
  DirEntry* entry = &search->entry;
  entry->name = name;
  entry->attributes = (uint16_t)(attributes & 0x3f);
  PlatformEntryDosTime(search, &entry->time, &entry->date);
  uint64_t size = PlatformEntrySize(search);
  entry->size_low = (uint32_t)size;
  entry->size_high = (uint32_t)(size >> 32);
  return 0;
}

// The next admitted entry: 0, or a code.
int NextEntry(DirSearch* search) {
  for (;;) {
    int result = search->handle ? PlatformFindNext(search) : FindExhausted;
    if (result != 0) return result;
    result = FillEntry(search);
    if (result != FindRejected) return result;
  }
}

// A code into the error channel; the allocation has set its own.
int Status(int result) {
  if (result == 0) return 0;
  if (result != FindNoMemory) SetSystemError(result);
  return -1;
}

}  // namespace

bool FindEnded(int code) { return PlatformFindEnded(code) != 0; }

int FindNextEntry(DirSearch* search) { return Status(NextEntry(search)); }

int FindFirstEntryIn(const Directory* dir, const char* pattern, uint16_t mask, DirSearch* search) {
  search->handle = nullptr;
  if (mask & ATTR_VOLUME) return Status(FindExhausted);  // no volume labels here
  search->exclusion = ~(uint32_t)mask & 0x1e;
  int result = PlatformFindFirst(dir, pattern, search);
  if (result == 0) result = FillEntry(search);
  return Status(result == FindRejected ? NextEntry(search) : result);
}

int FindFirstEntry(const char* pattern, uint16_t mask, DirSearch* search) {
  return FindFirstEntryIn(nullptr, pattern, mask, search);
}

int CloseSearch(DirSearch* search) {
  if (search->handle) PlatformFindClose(search);
  search->handle = nullptr;
  return 0;
}

int ForEachEntry(const Directory* dir, uint16_t mask, EntryVisitor visit, void* context) {
  DirSearch search;
  int found = FindFirstEntryIn(dir, "*.*", mask, &search);
  int result = 0;
  for (; found == 0; found = FindNextEntry(&search)) {
    const char* name = search.entry.name;
    if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) result = visit(search.entry, context);
    FreeMemory(search.entry.name);
    if (result != 0) break;
  }
  int code = LastSystemError();
  CloseSearch(&search);
  if (result != 0) return result;
  if (FindEnded(code)) return 0;
  SetSystemError(code);
  return -1;
}
