// Helpers for the codec tests: scratch files, coding strings in memory, and
// reading a coded stream back as its items.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/codec_internal.h"

// A scratch file opened for reading and writing, removed at the end.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& contents = "") {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("codec-test-" + std::to_string(std::random_device()()) + "-" + std::to_string(serial++));
    stream_ = fopen(path_.string().c_str(), "w+b");
    EXPECT_NE(stream_, nullptr) << path_;
    if (!contents.empty()) fwrite(contents.data(), 1, contents.size(), stream_);
    rewind(stream_);
  }
  ~ScratchFile() {
    if (stream_ != nullptr) fclose(stream_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  FILE* stream() const { return stream_; }
  const std::filesystem::path& path() const { return path_; }
  // The whole contents; leaves the stream at its end.
  std::string Contents() const {
    fflush(stream_);
    rewind(stream_);
    std::string contents;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream_)) > 0) contents.append(buffer, got);
    return contents;
  }
  long Position() const { return ftell(stream_); }

 private:
  std::filesystem::path path_;
  FILE* stream_ = nullptr;
};

// Runs body with standard output captured; returns what it printed.
template <typename Body>
std::string CaptureOutput(Body body) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  body();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// The coded stream of data.
inline std::string Compress(const std::string& data, int* result = nullptr) {
  ScratchFile input(data);
  ScratchFile output;
  int got = 0;
  CaptureOutput([&] { got = CompressStream(input.stream(), output.stream()); });
  if (result != nullptr) *result = got;
  return output.Contents();
}

struct Decoded {
  int result = -1;
  std::string data;
  long consumed = 0;  // input bytes read when the call returned
};

// Decodes coded with DecompressStream, or with DecompressMember.
inline Decoded Decompress(const std::string& coded, bool member = false) {
  ScratchFile input(coded);
  ScratchFile output;
  Decoded decoded;
  CaptureOutput([&] {
    decoded.result = member ? DecompressMember(input.stream(), output.stream())
                            : DecompressStream(input.stream(), output.stream());
  });
  decoded.consumed = input.Position();
  decoded.data = output.Contents();
  return decoded;
}

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    if (!hex.empty()) hex += ' ';
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += static_cast<char>(value);
  return bytes;
}

// One item of a bit stream: a literal byte (length 0) or a match.
struct Item {
  int length;
  unsigned value;  // the literal byte, or the match position
  bool operator==(const Item& other) const { return length == other.length && value == other.value; }
};

inline std::ostream& operator<<(std::ostream& out, const Item& item) {
  if (item.length == 0) return out << "literal " << item.value;
  return out << "match " << item.length << " at " << item.value;
}

// The items of a well-formed coded stream, read with the coder itself.
inline std::vector<Item> ParseItems(const std::string& coded) {
  ScratchFile input(coded.substr(4));
  uint32_t size = static_cast<unsigned char>(coded[0]) | static_cast<unsigned char>(coded[1]) << 8 |
                  static_cast<unsigned char>(coded[2]) << 16 |
                  static_cast<uint32_t>(static_cast<unsigned char>(coded[3])) << 24;
  std::vector<Item> items;
  codec::input_stream = input.stream();
  codec::StartCoder();
  for (uint32_t count = 0; count < size;) {
    int symbol = codec::DecodeSymbol();
    if (symbol < 256) {
      items.push_back({0, static_cast<unsigned>(symbol)});
      count++;
    } else {
      items.push_back({symbol - 253, codec::DecodePosition()});
      count += static_cast<uint32_t>(symbol - 253);
    }
  }
  return items;
}

// Test inputs of the kinds that stress different parts of the coder.
inline std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

inline std::string Text(size_t size, unsigned seed) {
  static const char* const words[] = {"the ", "keyboard ", "driver ", "setup ", "archive ",
                                      "window ", "a ", "of ", "\n", "install ", "file ",
                                      "directory ", "and ", "to ", "is ", "0x1F, "};
  std::mt19937 generator(seed);
  std::string text;
  while (text.size() < size) text += words[generator() % 16];
  text.resize(size);
  return text;
}

// Long runs of a few byte values with short random stretches between.
inline std::string Runs(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes;
  while (bytes.size() < size) {
    if (generator() % 4 == 0) {
      bytes += RandomBytes(generator() % 20, generator());
    } else {
      bytes.append(generator() % 300, "\0 a\xff"[generator() % 4]);
    }
  }
  bytes.resize(size);
  return bytes;
}
