// Directory scanning with DOS attribute masks, one entry at a time.
#pragma once

#include <cstdint>

const uint16_t ATTR_READONLY = 0x01;
const uint16_t ATTR_HIDDEN = 0x02;
const uint16_t ATTR_SYSTEM = 0x04;
const uint16_t ATTR_VOLUME = 0x08;
const uint16_t ATTR_DIRECTORY = 0x10;
const uint16_t ATTR_ARCHIVE = 0x20;

const int FindNoMemory = 10001;
const int FindExhausted = 10002;
const int FindRejected = 10003;

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
  uint8_t admitted;
  uint8_t must_match;
  DirEntry entry;
};

int FindFirstEntry(const char* pattern, uint16_t mask, DirSearch* search);
int FindNextEntry(DirSearch* search);
int CloseSearch(DirSearch* search);
int FillEntry(DirSearch* search);
