// Writing and reading the check record.
#include "archive/check.h"

#include <cstring>

#include "codec/crc32.h"
#include "fileutil/memory.h"

namespace {

const char TAG[4] = {'Z', 'Q', 'C', 'K'};

void Put16(uint8_t* at, unsigned value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
  Put16(at, value & 0xffff);
  Put16(at + 2, value >> 16);
}

unsigned Get16(const uint8_t* at) { return at[0] | (unsigned)at[1] << 8; }

uint32_t Get32(const uint8_t* at) { return Get16(at) | (uint32_t)Get16(at + 2) << 16; }

uint64_t Get64(const uint8_t* at) { return Get32(at) | (uint64_t)Get32(at + 4) << 32; }

int64_t BlocksOf(int64_t bytes) { return (bytes + CHECK_BLOCK - 1) >> CHECK_BLOCK_SHIFT; }

// Checks the record of length bytes at start against itself and reads its
// sums.
int ReadRecord(FileHandle file, int64_t start, int64_t length, CheckRecord* record) {
  uint8_t head[16], tail[12];
  int got = ReadAt(file, start, head, sizeof head);
  if (got == 0) got = ReadAt(file, start + length - 12, tail, sizeof tail);
  if (got < 0) return CHECK_READ_FAILED;
  if (got > 0 || memcmp(head, TAG, 4) != 0 || memcmp(tail + 8, TAG, 4) != 0 || Get32(tail + 4) != length)
    return CHECK_BROKEN;
  uint8_t buffer[4096];
  uint32_t crc = 0;
  for (int64_t at = start; at < start + length - 12;) {
    int64_t left = start + length - 12 - at;
    size_t part = left < (int64_t)sizeof buffer ? (size_t)left : sizeof buffer;
    if (ReadAt(file, at, buffer, part) != 0) return CHECK_READ_FAILED;
    crc = UpdateCrc32(crc, buffer, part);
    at += (int64_t)part;
  }
  if (crc != Get32(tail)) return CHECK_BROKEN;
  record->start = start;
  record->length = length;
  record->kind = Get16(head + 4);
  if (record->kind != CHECK_KIND_BLOCKS) return CHECK_UNKNOWN_KIND;
  int64_t count = BlocksOf(start);
  if (Get16(head + 6) != CHECK_BLOCK_SHIFT || Get64(head + 8) != (uint64_t)start ||
      length != CHECK_FIXED_SIZE + 4 * count)
    return CHECK_BROKEN;
  uint8_t* bytes = static_cast<uint8_t*>(AllocateMemory((size_t)(4 * count)));
  record->sums = reinterpret_cast<uint32_t*>(bytes);
  if (!bytes) return CHECK_NO_MEMORY;
  record->count = count;
  if (ReadAt(file, start + 16, bytes, (size_t)(4 * count)) != 0) return CHECK_READ_FAILED;
  for (int64_t i = 0; i < count; i++) record->sums[i] = Get32(bytes + 4 * i);
  return CHECK_FOUND;
}

int Result(int found, CheckRecord* record) {
  if (found != CHECK_FOUND) FreeCheckRecord(record);
  return found;
}

}  // namespace

void StartSums(BlockSums* sums) { memset(sums, 0, sizeof *sums); }

void AddToSums(BlockSums* sums, const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    size_t room = (size_t)(CHECK_BLOCK - (sums->total & (CHECK_BLOCK - 1)));
    size_t part = size < room ? size : room;
    sums->crc = UpdateCrc32(sums->crc, bytes, part);
    sums->total += (int64_t)part;
    bytes += part;
    size -= part;
    if (part < room) break;
    if (sums->count == sums->capacity) {
      int64_t capacity = sums->capacity ? 2 * sums->capacity : 64;
      uint32_t* grown = static_cast<uint32_t*>(ResizeMemory(sums->sums, (size_t)capacity * 4));
      if (!grown) {
        sums->out_of_memory = true;
        sums->crc = 0;
        continue;
      }
      sums->sums = grown;
      sums->capacity = capacity;
    }
    sums->sums[sums->count++] = sums->crc;
    sums->crc = 0;
  }
}

uint32_t SumOfBlock(const BlockSums* sums, int64_t index) {
  return index < sums->count ? sums->sums[index] : sums->crc;
}

void FreeSums(BlockSums* sums) {
  FreeMemory(sums->sums);
  StartSums(sums);
}

void WriteCheckRecord(FileWriter* writer, const BlockSums* sums) {
  int64_t count = BlocksOf(sums->total);
  uint8_t head[16];
  memcpy(head, TAG, 4);
  Put16(head + 4, CHECK_KIND_BLOCKS);
  Put16(head + 6, CHECK_BLOCK_SHIFT);
  Put32(head + 8, (uint32_t)sums->total);
  Put32(head + 12, (uint32_t)(sums->total >> 32));
  WriteBytes(writer, head, sizeof head);
  uint32_t crc = UpdateCrc32(0, head, sizeof head);
  for (int64_t i = 0; i < count; i++) {
    uint8_t sum[4];
    Put32(sum, SumOfBlock(sums, i));
    WriteBytes(writer, sum, 4);
    crc = UpdateCrc32(crc, sum, 4);
  }
  uint8_t tail[12];
  Put32(tail, crc);
  Put32(tail + 4, (uint32_t)(CHECK_FIXED_SIZE + 4 * count));
  memcpy(tail + 8, TAG, 4);
  WriteBytes(writer, tail, sizeof tail);
}

int FindCheckRecord(FileHandle file, int64_t size, CheckRecord* record) {
  memset(record, 0, sizeof *record);
  uint8_t tail[12];
  if (size < (int64_t)sizeof tail) return CHECK_NONE;
  int got = ReadAt(file, size - 12, tail, sizeof tail);
  if (got != 0) return got < 0 ? CHECK_READ_FAILED : CHECK_NONE;
  if (memcmp(tail + 8, TAG, 4) != 0) return CHECK_NONE;
  int64_t length = Get32(tail + 4);
  if (length < CHECK_FIXED_SIZE || length > size) return CHECK_BROKEN;
  return Result(ReadRecord(file, size - length, length, record), record);
}

int ReadCheckRecordAt(FileHandle file, int64_t size, int64_t start, CheckRecord* record) {
  memset(record, 0, sizeof *record);
  int64_t length = CHECK_FIXED_SIZE + 4 * BlocksOf(start);
  if (start + length > size) return CHECK_BROKEN;
  return Result(ReadRecord(file, start, length, record), record);
}

void FreeCheckRecord(CheckRecord* record) {
  FreeMemory(record->sums);
  record->sums = nullptr;
  record->count = 0;
}

int VerifyBlocks(FileHandle file, const CheckRecord* record, uint8_t* buffer, size_t capacity,
                 int64_t* first_bad, int64_t* bad_count) {
  *first_bad = -1;
  *bad_count = 0;
  capacity &= ~(size_t)(CHECK_BLOCK - 1);  // whole blocks a read
  if (SeekInFile(file, 0) != 0) return -1;
  for (int64_t at = 0; at < record->start;) {
    int64_t left = record->start - at;
    size_t want = left < (int64_t)capacity ? (size_t)left : capacity;
    for (size_t got = 0; got < want;) {
      intptr_t read = ReadFromFile(file, buffer + got, want - got);
      if (read < 0) return -1;
      if (read == 0) {  // cut off since the record was read
        *first_bad = at;
        ++*bad_count;
        return 1;
      }
      got += (size_t)read;
    }
    for (size_t done = 0; done < want; done += (size_t)CHECK_BLOCK) {
      size_t part = want - done < (size_t)CHECK_BLOCK ? want - done : (size_t)CHECK_BLOCK;
      if (UpdateCrc32(0, buffer + done, part) != record->sums[(at + (int64_t)done) >> CHECK_BLOCK_SHIFT]) {
        if (*first_bad < 0) *first_bad = at + (int64_t)done;
        ++*bad_count;
      }
    }
    at += (int64_t)want;
  }
  return *bad_count ? 1 : 0;
}

int ReadAt(FileHandle file, int64_t offset, void* bytes, size_t size) {
  if (SeekInFile(file, offset) != 0) return -1;
  for (size_t got = 0; got < size;) {
    intptr_t read = ReadFromFile(file, static_cast<uint8_t*>(bytes) + got, size - got);
    if (read < 0) return -1;
    if (read == 0) return 1;
    got += (size_t)read;
  }
  return 0;
}
