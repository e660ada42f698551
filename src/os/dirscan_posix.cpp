// Directory scanning on opendir and readdir, delivering what the Windows
// search would: "*.*" matches every name, "." and ".." are directories, the
// directory bit follows the file type, read-only is a missing owner-write
// permission, hidden is a leading dot, regular files carry the archive bit.
// Entries come in the byte order of their names, not in the order the file
// system keeps them, so that the same tree packs into the same archive on
// any machine.
#include <dirent.h>
#include <fcntl.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "os/dirscan_platform.h"
#include "os/memory.h"

namespace {

struct FindRecord {
  uint32_t attributes;
  uint64_t size;
  int64_t write_time;
  char name[256];
  char pattern[260];  // the name part of the search pattern
};

static_assert(sizeof(FindRecord) <= sizeof(((DirSearch*)nullptr)->find_data),
              "find record must fit the search");

FindRecord* Record(DirSearch* search) { return reinterpret_cast<FindRecord*>(search->find_data); }

// DOS wildcards: '*' any run, '?' one character; "*.*" and "*" match all.
bool Matches(const char* pattern, const char* name) {
  if (strcmp(pattern, "*.*") == 0 || strcmp(pattern, "*") == 0) return true;
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* rest = name;; ++rest) {
      if (Matches(pattern + 1, rest)) return true;
      if (*rest == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  return (*pattern == '?' || *pattern == *name) && Matches(pattern + 1, name + 1);
}

int SearchFailure() { return errno ? errno : FindExhausted; }

// The matching names of one directory, read whole and sorted; the directory
// stays open for looking the entries up.
struct Listing {
  DIR* dir;
  char* names;   // the names one after another, each with its zero
  char** order;  // the names in byte order
  size_t count;
  size_t next;
};

void FreeListing(Listing* listing) {
  closedir(listing->dir);
  FreeMemory(listing->names);
  FreeMemory(listing->order);
  FreeMemory(listing);
}

int CompareNames(const void* a, const void* b) { return strcmp(*(char* const*)a, *(char* const*)b); }

// Lists the names in dir that match pattern: 0, or an error code.
int ReadListing(DIR* dir, const char* pattern, Listing* listing) {
  size_t bytes = 0, capacity = 0;
  for (;;) {
    errno = 0;
    struct dirent* item = readdir(dir);
    if (!item) {
      if (errno) return errno;
      break;
    }
    if (!Matches(pattern, item->d_name)) continue;
    size_t length = strlen(item->d_name) + 1;
    if (bytes + length > capacity) {
      capacity = (capacity + length) * 2;
      char* grown = (char*)ResizeMemory(listing->names, capacity);
      if (!grown) return FindNoMemory;
      listing->names = grown;
    }
    memcpy(listing->names + bytes, item->d_name, length);
    bytes += length;
    listing->count++;
  }
  listing->order = (char**)AllocateMemory((listing->count ? listing->count : 1) * sizeof(char*));
  if (!listing->order) return FindNoMemory;
  char* name = listing->names;
  for (size_t i = 0; i < listing->count; i++, name += strlen(name) + 1) listing->order[i] = name;
  // strcmp compares bytes as unsigned char: the order of the bytes' values.
  qsort(listing->order, listing->count, sizeof(char*), CompareNames);
  return 0;
}

// Reads the next listed entry into the record.
int ReadNext(DirSearch* search) {
  Listing* listing = (Listing*)search->handle;
  FindRecord* record = Record(search);
  for (;;) {
    if (listing->next == listing->count) return FindExhausted;
    const char* name = listing->order[listing->next++];
    struct stat info;
    // Links are seen as what they point to; a dangling one as itself.
    if (fstatat(dirfd(listing->dir), name, &info, 0) != 0 &&
        fstatat(dirfd(listing->dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      return errno;  // never an entry silently lost
    }
    bool dots = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
    uint32_t attributes = 0;
    if (S_ISDIR(info.st_mode)) attributes |= ATTR_DIRECTORY;
    else attributes |= ATTR_ARCHIVE;
    if (!(info.st_mode & S_IWUSR)) attributes |= ATTR_READONLY;
    if (name[0] == '.' && !dots) attributes |= ATTR_HIDDEN;
    record->attributes = attributes;
    record->size = S_ISDIR(info.st_mode) ? 0 : (uint64_t)info.st_size;
    record->write_time = (int64_t)info.st_mtime;
    strncpy(record->name, name, sizeof record->name - 1);
    record->name[sizeof record->name - 1] = '\0';
    return 0;
  }
}

void ToDosTime(int64_t seconds, uint16_t* time, uint16_t* date) {
  time_t moment = (time_t)seconds;
  struct tm local;
  *time = 0;
  *date = 0;
  if (!localtime_r(&moment, &local)) return;
  int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return;
  *date = (uint16_t)(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time = (uint16_t)((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

}  // namespace

int PlatformFindFirst(const Directory* where, const char* pattern, DirSearch* search) {
  // Split the pattern into its directory and its name part.
  const char* name = pattern;
  for (const char* p = pattern; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  FindRecord* record = Record(search);
  if (strlen(name) >= sizeof record->pattern) return ENAMETOOLONG;
  strcpy(record->pattern, name);
  char directory[4096];
  size_t length = (size_t)(name - pattern);
  if (length >= sizeof directory) return ENAMETOOLONG;
  if (length == 0) {
    strcpy(directory, ".");
  } else {
    memcpy(directory, pattern, length);
    directory[length] = '\0';
  }
  int fd = openat(where ? (int)where->handle : AT_FDCWD, directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    int code = SearchFailure();
    if (fd >= 0) close(fd);
    return code;
  }
  Listing* listing = (Listing*)AllocateMemory(sizeof(Listing));
  if (!listing) {
    closedir(dir);
    return FindNoMemory;
  }
  memset(listing, 0, sizeof *listing);
  listing->dir = dir;
  search->handle = listing;
  int result = ReadListing(dir, record->pattern, listing);
  if (result != 0) {
    FreeListing(listing);
    search->handle = nullptr;
    return result;
  }
  result = ReadNext(search);
  // Like FindFirstFileA: a pattern that matches nothing is "file not found".
  return result == FindExhausted ? ENOENT : result;
}

int PlatformFindEnded(int result) { return result == FindExhausted || result == ENOENT; }

int PlatformFindNext(DirSearch* search) { return ReadNext(search); }

void PlatformFindClose(DirSearch* search) { FreeListing((Listing*)search->handle); }

const char* PlatformEntryName(DirSearch* search) { return Record(search)->name; }

uint32_t PlatformEntryAttributes(DirSearch* search) { return Record(search)->attributes; }

uint64_t PlatformEntrySize(DirSearch* search) { return Record(search)->size; }

void PlatformEntryDosTime(DirSearch* search, uint16_t* time, uint16_t* date) {
  ToDosTime(Record(search)->write_time, time, date);
}
