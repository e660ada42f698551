// Where the disks of a floppy set go: floppies in drive A: on Windows,
// image files on Linux, where floppies are mostly images today.
#pragma once

#include <cstdint>

// What a formatted 1.44 MB floppy holds: 2,847 clusters of one 512-byte
// sector, and 224 entries in its root directory.
const int FLOPPY_CLUSTER = 512;
const uint64_t FLOPPY_DATA_BYTES = 2847 * FLOPPY_CLUSTER;
const int FLOPPY_ROOT_ENTRIES = 224;

// One file of the set, as checked before anything was written.
struct FloppyFile {
  const char* name;  // in the current directory; the same on the disk
  int disk;          // 1 to 8
  uint64_t size;
  uint16_t time;  // local DOS time and date of the last write
  uint16_t date;
};

// Before the first disk is touched: 0 when a set of that many disks can be
// written here, else 1 after a message.
int CheckFloppyTarget(int disks);

// Writes disk number disk with its files, in this order: 0, or the
// non-zero result of what failed, after its message.
int WriteFloppyDisk(int disk, const FloppyFile* files, int count);
