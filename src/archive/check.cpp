// Writing and reading the check record.
#include "archive/check.h"

#include <cstring>

#include "codec/crc32.h"
#include "os/memory.h"
#include "ui/messages.h"

namespace {

const char TAG[4] = {'Z', 'Q', 'C', 'K'};
const int FIXED = 28;  // the record without its sums

uint32_t Get32(const uint8_t* at) { return at[0] | at[1] << 8 | at[2] << 16 | (uint32_t)at[3] << 24; }

void Put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; i++) at[i] = (uint8_t)(value >> 8 * i);
}

void PutLength(uint8_t* at, int64_t length) {
  Put32(at, (uint32_t)length);
  Put32(at + 4, (uint32_t)(length >> 32));
}

int64_t RecordLength(int64_t covered) { return FIXED + 4 * ((covered + CHECK_BLOCK - 1) >> CHECK_BLOCK_SHIFT); }

// Reads the first length bytes of file from its start through buffer and
// tells visit of each block.
int SumBlocks(FileHandle file, int64_t length, uint8_t* buffer, size_t capacity, BlockVisitor visit,
              void* context) {
  if (SeekInFile(file, 0) != 0) return -1;
  uint32_t crc = 0;
  for (int64_t at = 0, start = 0; at < length;) {
    int64_t part = start + CHECK_BLOCK < length ? start + CHECK_BLOCK - at : length - at;
    if (part > (int64_t)capacity) part = (int64_t)capacity;
    size_t got;
    if (ReadFromFile(file, buffer, (size_t)part, &got) != 0) return -1;
    if (got == 0) {
      SetSystemError(ERROR_FILE_ENDED_EARLY);
      return -1;
    }
    crc = UpdateCrc32(crc, buffer, (size_t)got);
    at += (int64_t)got;
    if (at == length || at - start == CHECK_BLOCK) {
      visit(context, start, at - start, crc);
      crc = 0;
      start = at;
    }
  }
  return 0;
}

struct Writing {
  FileWriter* writer;
  uint32_t crc;
};

void Write(Writing* writing, const void* bytes, size_t size) {
  WriteBytes(writing->writer, bytes, size);
  writing->crc = UpdateCrc32(writing->crc, bytes, size);
}

void WriteSum(void* context, int64_t, int64_t, uint32_t sum) {
  uint8_t bytes[4];
  Put32(bytes, sum);
  Write(static_cast<Writing*>(context), bytes, 4);
}

struct Verifying {
  const uint8_t* sums;
  int64_t bad;
  BlockVisitor tell;
  void* context;
};

void CompareSum(void* context, int64_t offset, int64_t size, uint32_t sum) {
  Verifying* verifying = static_cast<Verifying*>(context);
  if (sum == Get32(verifying->sums + 4 * (offset >> CHECK_BLOCK_SHIFT))) return;
  verifying->bad++;
  if (verifying->tell) verifying->tell(verifying->context, offset, size, sum);
}

}  // namespace

int WriteCheckRecord(FileHandle file, int64_t length, FileWriter* writer, uint8_t* buffer, size_t capacity) {
  uint8_t head[16] = {'Z', 'Q', 'C', 'K', 1, 0, CHECK_BLOCK_SHIFT, 0};
  PutLength(head + 8, length);
  Writing writing = {writer, 0};
  Write(&writing, head, sizeof head);
  if (SumBlocks(file, length, buffer, capacity, WriteSum, &writing) != 0) return -1;
  uint8_t tail[12];
  Put32(tail, writing.crc);
  Put32(tail + 4, (uint32_t)RecordLength(length));
  memcpy(tail + 8, TAG, 4);
  WriteBytes(writer, tail, sizeof tail);
  return 0;
}

int FindCheckRecord(FileHandle file, int64_t size, CheckRecord* record) {
  memset(record, 0, sizeof *record);
  uint8_t tail[12], head[16];
  if (size < 12) return CHECK_NONE;
  int got = ReadAt(file, size - 12, tail, sizeof tail);
  if (got < 0) return CHECK_READ_FAILED;
  if (got > 0 || memcmp(tail + 8, TAG, 4) != 0) return CHECK_NONE;
  int64_t length = Get32(tail + 4);
  int64_t at = size - length;
  if (length < FIXED || at < 0) return CHECK_BROKEN;
  got = ReadAt(file, at, head, sizeof head);
  if (got < 0) return CHECK_READ_FAILED;
  record->kind = head[4] | head[5] << 8;
  int64_t covered = (int64_t)(Get32(head + 8) | (uint64_t)Get32(head + 12) << 32);
  // A record of the known kind is as long as what it covers asks, whatever
  // the file's length now: so one of an archive cut or grown before it is
  // still read, and nothing larger is ever asked for.
  if (got > 0 || memcmp(head, TAG, 4) != 0 || (record->kind == 1 && length != RecordLength(covered)))
    return CHECK_BROKEN;
  uint8_t* bytes = static_cast<uint8_t*>(AllocateMemory((size_t)length));
  if (!bytes) return CHECK_NO_MEMORY;
  record->bytes = bytes;
  record->start = at;
  record->length = length;
  if (ReadAt(file, at, bytes, (size_t)length) != 0) return CHECK_READ_FAILED;
  if (Get32(bytes + length - 12) != UpdateCrc32(0, bytes, (size_t)length - 12)) return CHECK_BROKEN;
  if (record->kind != 1) return CHECK_UNKNOWN_KIND;
  uint8_t known[16] = {'Z', 'Q', 'C', 'K', 1, 0, CHECK_BLOCK_SHIFT, 0};
  PutLength(known + 8, covered);
  if (memcmp(bytes, known, 16) != 0) return CHECK_BROKEN;
  record->start = covered;
  return covered == at ? CHECK_FOUND : CHECK_WRONG_LENGTH;
}

void FreeCheckRecord(CheckRecord* record) {
  FreeMemory(record->bytes);
  record->bytes = nullptr;
}

int64_t VerifyBlocks(FileHandle file, const CheckRecord* record, uint8_t* buffer, size_t capacity,
                     BlockVisitor bad, void* context) {
  Verifying verifying = {record->bytes + 16, 0, bad, context};
  if (SumBlocks(file, record->start, buffer, capacity, CompareSum, &verifying) != 0) return -1;
  return verifying.bad;
}
