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
#include "os/fsops.h"

const int CHECK_BLOCK_SHIFT = 16;
const int64_t CHECK_BLOCK = int64_t{1} << CHECK_BLOCK_SHIFT;

// Told of each block: its offset, its size and its CRC-32.
typedef void (*BlockVisitor)(void* context, int64_t offset, int64_t size, uint32_t sum);

// Appends the record of the first length bytes of file, read through buffer,
// to writer: 0, or -1 when they could not be read (the system's code set).
int WriteCheckRecord(FileHandle file, int64_t length, FileWriter* writer, uint8_t* buffer, size_t capacity);

// A record read from an archive.
struct CheckRecord {
  int64_t start;  // its offset: the bytes before it are covered
  int64_t length;
  unsigned kind;
  uint8_t* bytes;  // all of it
};
enum CheckFound {
  CHECK_FOUND,
  CHECK_NONE,          // the file does not end with one
  CHECK_BROKEN,        // one is there, but it does not match itself
  CHECK_UNKNOWN_KIND,  // a sound record of a kind this program does not know
  CHECK_WRONG_LENGTH,  // a sound record of an archive longer or shorter than this one
  CHECK_READ_FAILED,   // with the system's code set
  CHECK_NO_MEMORY,
};
// The record that ends the file of size bytes, freed with FreeCheckRecord.
// Of a record that covers another length (the archive was cut or grew
// before it), start is what it covers.
int FindCheckRecord(FileHandle file, int64_t size, CheckRecord* record);
void FreeCheckRecord(CheckRecord* record);

// Reads the covered bytes through buffer and compares each block with its
// sum, telling bad (may be null) of each that differs: how many differ, or
// -1 when the file could not be read (the system's code set).
int64_t VerifyBlocks(FileHandle file, const CheckRecord* record, uint8_t* buffer, size_t capacity,
                     BlockVisitor bad, void* context);
