// Archives and their members read and written through the file-system
// layer in large blocks, as the codec's byte source and sink.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "codec/byteio.h"
#include "os/fsops.h"
#include "os/pipeline.h"

// Buffers of the archive and of member files: few, large reads and writes.
const size_t STREAM_BUFFER = 1 << 16;

// A file read in blocks as the codec's source. It ends at the end of the
// file; at a read error (failed, with the system's code in error); and at
// the run's stop or its pipeline's halt (the source is then abandoned).
struct FileReader {
  ByteSource source;  // first: the codec sees only this
  FileHandle file;
  uint8_t* buffer;
  size_t capacity;
  int64_t offset;  // in the file, of the byte after the buffer's last
  bool failed;
  int error;
  std::atomic<int64_t>* counter;  // bytes read, for a progress; may be null
  const Monitor* pipeline;        // whose halt abandons it; may be null
  // Told of each block read (its offset in the file); may be null.
  void (*on_block)(void* context, int64_t offset, const uint8_t* bytes, size_t size);
  void* block_context;
};
// buffer: capacity bytes of the caller's, which outlive the reader.
void OpenReader(FileReader* reader, FileHandle file, uint8_t* buffer, size_t capacity);
// Bytes taken from the reader so far.
int64_t ReaderPosition(const FileReader* reader);
// Takes the bytes up to position (beyond the present one) without looking
// at them.
void SkipReaderTo(FileReader* reader, int64_t position);

// A file written in blocks. The first failure sticks: later writes do
// nothing, and the system's code is kept in error.
struct FileWriter {
  FileHandle file;
  uint8_t* buffer;
  size_t capacity;
  size_t used;
  bool failed;
  int error;
};
void OpenWriter(FileWriter* writer, FileHandle file, uint8_t* buffer, size_t capacity);
void WriteBytes(FileWriter* writer, const void* bytes, size_t size);
// Writes what is buffered: 0, or -1 once anything failed (the system's code
// set again).
int FlushWriter(FileWriter* writer);
// A ByteSink over the FileWriter at context.
int WriteToWriter(void* writer, const uint8_t* bytes, size_t size);

// Reads exactly size bytes at offset: 0, 1 when the file ends before, -1
// when it cannot be read (the system's code set).
int ReadAt(FileHandle file, int64_t offset, void* bytes, size_t size);

// The last min(size, 4096) bytes of an open file of size bytes, into tail:
// 0, or -1 (the bytes that could not be read are zeros).
int ReadTail(FileHandle file, uint64_t size, uint8_t* tail);
