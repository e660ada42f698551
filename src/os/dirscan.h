// Directory scanning with DOS attribute masks, one entry at a time.
// Results as in fsops.h: 0 and a filled entry while entries remain, else -1
// with the code in the error channel. At the end that code is
// FindExhausted, or the platform's "not found" where a pattern matched
// nothing; FindEnded tells both from a failure.
#pragma once

#include <cstdint>

#include "os/fsops.h"

const uint16_t ATTR_READONLY = 0x01;
const uint16_t ATTR_HIDDEN = 0x02;
const uint16_t ATTR_SYSTEM = 0x04;
const uint16_t ATTR_VOLUME = 0x08;
const uint16_t ATTR_DIRECTORY = 0x10;
const uint16_t ATTR_ARCHIVE = 0x20;

// Masks: files of every kind, hidden and system ones included; and those
// with the subdirectories.
const uint16_t MASK_FILES = ATTR_HIDDEN | ATTR_SYSTEM;
const uint16_t MASK_ALL = ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY;

const int FindExhausted = 10002;
// Whether code only says that the listing is over, or matched nothing.
bool FindEnded(int code);

struct DirEntry {
  char* name;  // heap copy, owned and freed by the caller
  uint16_t attributes;
  uint16_t time;  // local MS-DOS time of the last write
  uint16_t date;  // local MS-DOS date
  uint32_t size_low;
  uint32_t size_high;
};

struct DirSearch {
  void* handle;  // platform search, null when none is open
  alignas(8) unsigned char find_data[640];  // platform record of the last entry
  uint32_t exclusion;
  DirEntry entry;
};

// pattern: a name with the wildcards * and ?, led by a directory part; in
// dir, or from the current directory where dir is null.
int FindFirstEntryIn(const Directory* dir, const char* pattern, uint16_t mask, DirSearch* search);
int FindFirstEntry(const char* pattern, uint16_t mask, DirSearch* search);
int FindNextEntry(DirSearch* search);
int CloseSearch(DirSearch* search);

// Hands each entry of dir that mask admits, but "." and "..", to visit,
// which returns 0 to go on. Returns 0 when all were visited, what visit
// returned when it stopped the walk, or -1 when the directory could not be
// listed (the system's error code tells why).
typedef int (*EntryVisitor)(const DirEntry& entry, void* context);
int ForEachEntry(const Directory* dir, uint16_t mask, EntryVisitor visit, void* context);
