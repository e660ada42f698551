// The check record that -a writes after the top level's end marker: a
// CRC-32 of each 64 KiB block of the archive before it, so that damage
// anywhere is found before anything is unpacked, and where it lies. Readers
// of the plain format stop at the end marker and never see it.
//
//   offset   size  field
//   0        4     "ZQCK"
//   4        2     kind: 1, a CRC-32 of each block
//   6        2     16: blocks of 2^16 bytes
//   8        8     the archive's bytes before the record, which it covers
//   16       4n    CRC-32 of each block of them in order, the last one short
//   16+4n    4     CRC-32 of the record's bytes before this field
//   20+4n    4     the record's length, 28+4n
//   24+4n    4     "ZQCK"
//
// All numbers little-endian. A reader finds it from the file's last 12
// bytes; one that stops at the end marker finds it there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/streams.h"
#include "fileutil/fsops.h"

const int CHECK_BLOCK_SHIFT = 16;
const int64_t CHECK_BLOCK = int64_t{1} << CHECK_BLOCK_SHIFT;
const unsigned CHECK_KIND_BLOCKS = 1;
const int64_t CHECK_FIXED_SIZE = 28;  // the record without its sums

// CRC-32s of the 64 KiB blocks of a stream of bytes, made as they pass.
struct BlockSums {
  uint32_t* sums;  // of the complete blocks
  int64_t count;
  int64_t capacity;
  uint32_t crc;   // of the block being filled
  int64_t total;  // bytes so far
  bool out_of_memory;
};
void StartSums(BlockSums* sums);
void AddToSums(BlockSums* sums, const void* bytes, size_t size);
// The sum of block index, which must be complete or the last one.
uint32_t SumOfBlock(const BlockSums* sums, int64_t index);
void FreeSums(BlockSums* sums);

// Writes the record of the bytes summed so far. The writer must not be
// summing into sums any more.
void WriteCheckRecord(FileWriter* writer, const BlockSums* sums);

// A record read from an archive.
struct CheckRecord {
  int64_t start;  // its offset: the bytes before it are covered
  int64_t length;
  unsigned kind;
  uint32_t* sums;  // one a block
  int64_t count;
};
enum CheckFound {
  CHECK_FOUND,
  CHECK_NONE,          // the file does not end with one
  CHECK_BROKEN,        // one is there, but it does not match itself
  CHECK_UNKNOWN_KIND,  // a sound record of a kind this program does not know
  CHECK_READ_FAILED,   // with the system's code set
  CHECK_NO_MEMORY,
};
// The record that ends the file of size bytes.
int FindCheckRecord(FileHandle file, int64_t size, CheckRecord* record);
// The record that begins at start, where the archive's top level ends; it
// may be followed by other bytes.
int ReadCheckRecordAt(FileHandle file, int64_t size, int64_t start, CheckRecord* record);
void FreeCheckRecord(CheckRecord* record);

// Reads the covered bytes through buffer and compares each block with its
// sum: 0 all sound; 1 damaged, with the offset of the first block that is
// not and the count of such blocks; -1 the file could not be read (the
// system's code set).
int VerifyBlocks(FileHandle file, const CheckRecord* record, uint8_t* buffer, size_t capacity,
                 int64_t* first_bad, int64_t* bad_count);

// Reads exactly size bytes at offset: 0, 1 when the file ends before, -1
// when it cannot be read (the system's code set).
int ReadAt(FileHandle file, int64_t offset, void* bytes, size_t size);
