// Bytes in and out of the codec. A source hands out a buffer at a time and
// is asked for more when it runs dry; a sink takes blocks in order. The
// codec reads byte by byte in its inner loops, so the common case is a
// pointer compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct ByteSource {
  const uint8_t* next;
  const uint8_t* end;
  // Makes more bytes available and returns the first of them (taken), or
  // EOF at the end of the input and when it cannot be read: its owner knows
  // which.
  int (*fill)(ByteSource* source);
  // Set by the source when the work is to stop at once (the run's stop): a
  // compression then reads no further instead of completing with zeros.
  bool abandoned;
};

inline int ReadByte(ByteSource* source) {
  return source->next < source->end ? *source->next++ : source->fill(source);
}

// Takes bytes in order: 0, or non-zero when they could not be taken.
typedef int (*ByteSink)(void* context, const uint8_t* bytes, size_t size);

// A source over a standard stream, read in blocks. Closing it sets the
// stream right after the last byte the codec took (it must be a file that
// can be positioned when bytes are left over).
struct StdioSource {
  ByteSource source;
  FILE* file;
  uint8_t buffer[1 << 16];
};
void OpenStdioSource(StdioSource* source, FILE* file);
void CloseStdioSource(StdioSource* source);
// A sink that writes to the FILE* at context.
int WriteToStdio(void* context, const uint8_t* bytes, size_t size);
