// Archive and member files read and written in large blocks through the
// file-system layer.
#include "archive/streams.h"

#include <cstring>

#include "ui/messages.h"

static int FillReader(ByteSource* source) {
  FileReader* reader = reinterpret_cast<FileReader*>(source);
  if (reader->failed || source->abandoned) return EOF;
  if (StopRequested() || (reader->pipeline && Halted(reader->pipeline))) {
    source->abandoned = true;
    return EOF;
  }
  size_t got;
  if (ReadFromFile(reader->file, reader->buffer, reader->capacity, &got) != 0) {
    reader->failed = true;
    reader->error = LastSystemError();
    return EOF;
  }
  if (got == 0) return EOF;
  if (reader->on_block) reader->on_block(reader->block_context, reader->offset, reader->buffer, (size_t)got);
  reader->offset += got;
  if (reader->counter) reader->counter->fetch_add(got, std::memory_order_relaxed);
  source->next = reader->buffer + 1;
  source->end = reader->buffer + got;
  return reader->buffer[0];
}

void OpenReader(FileReader* reader, FileHandle file, uint8_t* buffer, size_t capacity) {
  reader->source.next = reader->source.end = buffer;
  reader->source.fill = FillReader;
  reader->source.abandoned = false;
  reader->file = file;
  reader->buffer = buffer;
  reader->capacity = capacity;
  reader->offset = 0;
  reader->failed = false;
  reader->error = 0;
  reader->counter = nullptr;
  reader->pipeline = nullptr;
  reader->on_block = nullptr;
  reader->block_context = nullptr;
}

int64_t ReaderPosition(const FileReader* reader) {
  return reader->offset - (reader->source.end - reader->source.next);
}

void SkipReaderTo(FileReader* reader, int64_t position) {
  int64_t ahead = position - ReaderPosition(reader);
  if (ahead <= reader->source.end - reader->source.next) {
    reader->source.next += ahead;
    return;
  }
  while (ReaderPosition(reader) < position && ReadByte(&reader->source) != EOF) {
  }
}

void OpenWriter(FileWriter* writer, FileHandle file, uint8_t* buffer, size_t capacity) {
  writer->file = file;
  writer->buffer = buffer;
  writer->capacity = capacity;
  writer->used = 0;
  writer->failed = false;
  writer->error = 0;
}

static void Put(FileWriter* writer, const void* bytes, size_t size) {
  if (writer->failed) return;
  if (WriteToFile(writer->file, bytes, size) != 0) {
    writer->failed = true;
    writer->error = LastSystemError();
  }
}

void WriteBytes(FileWriter* writer, const void* bytes, size_t size) {
  if (writer->used + size > writer->capacity) {
    Put(writer, writer->buffer, writer->used);
    writer->used = 0;
    if (size >= writer->capacity) {
      Put(writer, bytes, size);
      return;
    }
  }
  memcpy(writer->buffer + writer->used, bytes, size);
  writer->used += size;
}

int FlushWriter(FileWriter* writer) {
  Put(writer, writer->buffer, writer->used);
  writer->used = 0;
  if (!writer->failed) return 0;
  SetSystemError(writer->error);
  return -1;
}

int WriteToWriter(void* context, const uint8_t* bytes, size_t size) {
  FileWriter* writer = static_cast<FileWriter*>(context);
  WriteBytes(writer, bytes, size);
  return writer->failed ? 1 : 0;
}

int ReadAt(FileHandle file, int64_t offset, void* bytes, size_t size) {
  if (SeekInFile(file, offset) != 0) return -1;
  for (size_t got = 0; got < size;) {
    size_t read;
    if (ReadFromFile(file, static_cast<uint8_t*>(bytes) + got, size - got, &read) != 0) return -1;
    if (read == 0) return 1;
    got += read;
  }
  return 0;
}

int ReadTail(FileHandle file, uint64_t size, uint8_t* tail) {
  uint64_t length = size < 4096 ? size : 4096;
  memset(tail, 0, (size_t)length);
  return ReadAt(file, (int64_t)(size - length), tail, (size_t)length) == 0 ? 0 : -1;
}
