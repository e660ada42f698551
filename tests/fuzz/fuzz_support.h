// Memory streams for the fuzz targets: inputs read from the fuzzer's bytes,
// outputs gathered in memory up to a cap.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

// An output stream that keeps at most `cap` bytes and counts the rest.
struct CappedOutput {
  std::string kept;
  size_t cap;
  size_t total = 0;
  FILE* stream;

  explicit CappedOutput(size_t cap_bytes) : cap(cap_bytes) {
    cookie_io_functions_t io = {nullptr, Write, nullptr, nullptr};
    stream = fopencookie(this, "wb", io);
  }
  ~CappedOutput() {
    if (stream != nullptr) fclose(stream);
  }
  // Flushes and answers what was written.
  const std::string& Flushed() {
    fflush(stream);
    return kept;
  }

 private:
  static ssize_t Write(void* cookie, const char* bytes, size_t size) {
    auto* self = static_cast<CappedOutput*>(cookie);
    size_t room = self->kept.size() < self->cap ? self->cap - self->kept.size() : 0;
    self->kept.append(bytes, size < room ? size : room);
    self->total += size;
    return static_cast<ssize_t>(size);
  }
};

// A read-only stream over a copy of the bytes (fmemopen needs a buffer of
// at least one byte).
struct MemoryInput {
  std::string bytes;
  FILE* stream;

  MemoryInput(const uint8_t* data, size_t size) : bytes(reinterpret_cast<const char*>(data), size) {
    if (bytes.empty()) {
      static char nothing[1];
      stream = fmemopen(nothing, 0, "rb");
    } else {
      stream = fmemopen(&bytes[0], bytes.size(), "rb");
    }
  }
  ~MemoryInput() {
    if (stream != nullptr) fclose(stream);
  }
};

// The codec prints statistics on every call; the fuzzer's own report goes
// to standard error.
inline void SilenceStandardOutput() {
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
}
