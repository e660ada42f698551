// The file search of Windows: FindFirstFileA, FindNextFileA, FindClose.
#include <windows.h>

#include "os/dirscan_platform.h"

static_assert(sizeof(WIN32_FIND_DATAA) <= sizeof(((DirSearch*)nullptr)->find_data),
              "find record must fit the search");

static WIN32_FIND_DATAA* FindData(DirSearch* search) {
  return reinterpret_cast<WIN32_FIND_DATAA*>(search->find_data);
}

static int SearchFailure() {
  DWORD code = GetLastError();
  return code ? (int)code : FindExhausted;
}

int PlatformFindFirst(const Directory* dir, const char* pattern, DirSearch* search) {
  char path[PATH_SIZE];
  if (JoinPath(dir, pattern, path, PATH_SIZE) != 0) return ERROR_FILENAME_EXCED_RANGE;
  HANDLE handle = FindFirstFileA(path, FindData(search));
  if (handle == INVALID_HANDLE_VALUE) return SearchFailure();
  search->handle = handle;
  return 0;
}

int PlatformFindNext(DirSearch* search) {
  return FindNextFileA((HANDLE)search->handle, FindData(search)) ? 0 : SearchFailure();
}

void PlatformFindClose(DirSearch* search) { FindClose((HANDLE)search->handle); }

int PlatformFindEnded(int result) {
  return result == FindExhausted || result == ERROR_FILE_NOT_FOUND || result == ERROR_NO_MORE_FILES;
}

const char* PlatformEntryName(DirSearch* search) { return FindData(search)->cFileName; }

uint32_t PlatformEntryAttributes(DirSearch* search) { return FindData(search)->dwFileAttributes; }

uint64_t PlatformEntrySize(DirSearch* search) {
  const WIN32_FIND_DATAA* data = FindData(search);
  return ((uint64_t)data->nFileSizeHigh << 32) | data->nFileSizeLow;
}

void PlatformEntryDosTime(DirSearch* search, uint16_t* time, uint16_t* date) {
  FILETIME local;
  WORD dos_date = 0, dos_time = 0;
  if (!FileTimeToLocalFileTime(&FindData(search)->ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &dos_date, &dos_time)) {
    dos_date = 0;
    dos_time = 0;
  }
  *time = dos_time;
  *date = dos_date;
}
