// Directory scanning on FindFirstFileA and FindNextFileA.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "fileutil/dirscan.h"

static_assert(sizeof(WIN32_FIND_DATAA) <= sizeof(((DirSearch*)nullptr)->find_data),
              "find record must fit the search");

static WIN32_FIND_DATAA* FindData(DirSearch* search) {
  return reinterpret_cast<WIN32_FIND_DATAA*>(search->find_data);
}

static int SearchFailure() {
  DWORD code = GetLastError();
  return code ? (int)code : FindExhausted;
}

int FillEntry(DirSearch* search) {
  const WIN32_FIND_DATAA* data = FindData(search);
  DWORD attributes = data->dwFileAttributes;
  if (attributes & search->exclusion) return FindRejected;
  if (((attributes & 0x3f) ^ search->admitted) & search->must_match) return FindRejected;

  size_t length = strlen(data->cFileName);
  char* name = (char*)malloc(length + 1);
  if (!name) return FindNoMemory;
  memcpy(name, data->cFileName, length + 1);
  DirEntry* entry = &search->entry;
  entry->name = name;
  entry->attributes = (uint16_t)(attributes & 0x3f);

  FILETIME local;
  WORD date = 0, time = 0;
  // A time without an MS-DOS form (before 1980, after 2107) reads as zero.
  if (!FileTimeToLocalFileTime(&data->ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time)) {
    date = 0;
    time = 0;
  }
  entry->time = time;
  entry->date = date;
  entry->size_low = data->nFileSizeLow;
  entry->size_high = data->nFileSizeHigh;
  return 0;
}

int FindNextEntry(DirSearch* search) {
  for (;;) {
    if (!search->handle || !FindNextFileA((HANDLE)search->handle, FindData(search)))
      return SearchFailure();
    int result = FillEntry(search);
    if (result != FindRejected) return result;
  }
}

int FindFirstEntry(const char* pattern, uint16_t mask, DirSearch* search) {
  search->handle = nullptr;
  if (mask & ATTR_VOLUME) return 1;
  search->exclusion = ~(uint32_t)mask & 0x1e;
  search->admitted = (uint8_t)(mask & 0xff);
  search->must_match = (uint8_t)(mask >> 8);
  HANDLE handle = FindFirstFileA(pattern, FindData(search));
  if (handle == INVALID_HANDLE_VALUE) return SearchFailure();
  search->handle = handle;
  int result = FillEntry(search);
  return result == FindRejected ? FindNextEntry(search) : result;
}

int CloseSearch(DirSearch* search) {
  if (search->handle) FindClose((HANDLE)search->handle);
  search->handle = nullptr;
  return 0;
}
