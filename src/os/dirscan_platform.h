// What each platform's file search gives the portable directory scanning.
#pragma once

#include <cstdint>

#include "os/dirscan.h"

// A result beside the platform's codes: memory ran out, and the allocation
// has set the system's code.
const int FindNoMemory = 10001;

// Opens the platform search on pattern in dir (null: the current
// directory) and reads its first entry: 0, or the platform's error code
// (FindExhausted when it gives none). search->handle stays null when nothing
// was opened.
int PlatformFindFirst(const Directory* dir, const char* pattern, DirSearch* search);
// Reads the next entry: 0, or as above.
int PlatformFindNext(DirSearch* search);
void PlatformFindClose(DirSearch* search);
// 1 for a result that only says the listing is over (or matched nothing).
int PlatformFindEnded(int result);

// The entry last read: its name, its platform attributes (all bits) and size.
const char* PlatformEntryName(DirSearch* search);
uint32_t PlatformEntryAttributes(DirSearch* search);
uint64_t PlatformEntrySize(DirSearch* search);
// Its last write as local MS-DOS time and date; both zero when it has no
// MS-DOS form (before 1980, after 2107).
void PlatformEntryDosTime(DirSearch* search, uint16_t* time, uint16_t* date);
