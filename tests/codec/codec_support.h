// Helpers for the codec tests: scratch files, coding strings, reading a
// coded stream back as its items, and inputs of several kinds.
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

// A file opened for reading and writing, removed at the end.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& contents = "") {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("codec-test-" + std::to_string(std::random_device()()) + "-" + std::to_string(serial++));
    stream_ = fopen(path_.string().c_str(), "w+b");
    EXPECT_NE(stream_, nullptr) << path_;
    fwrite(contents.data(), 1, contents.size(), stream_);
    rewind(stream_);
  }
  ~ScratchFile() {
    fclose(stream_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  FILE* stream() const { return stream_; }
  const std::filesystem::path& path() const { return path_; }
  long Position() const { return ftell(stream_); }
  std::string Contents() const {
    fflush(stream_);
    rewind(stream_);
    std::string contents;
    char buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, stream_)) > 0;) contents.append(buffer, got);
    return contents;
  }

 private:
  std::filesystem::path path_;
  FILE* stream_;
};

// What body prints on standard output.
template <typename Body>
std::string CaptureOutput(Body body) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  body();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

inline std::string Compress(const std::string& data, int* result = nullptr) {
  ScratchFile input(data), output;
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

inline Decoded Decompress(const std::string& coded, bool member = false) {
  ScratchFile input(coded), output;
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
  std::string hex;
  for (unsigned char byte : bytes) {
    char two[4];
    snprintf(two, sizeof two, hex.empty() ? "%02x" : " %02x", byte);
    hex += two;
  }
  return hex;
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += static_cast<char>(value);
  return bytes;
}

// An item of a bit stream: a literal byte (length 0) or a match.
struct Item {
  int length;
  unsigned value;  // the literal byte, or the match position
  bool operator==(const Item& other) const { return length == other.length && value == other.value; }
  friend std::ostream& operator<<(std::ostream& out, const Item& item) {
    return out << (item.length == 0 ? "literal " : "match ") << item.length << " " << item.value;
  }
};

// The items of a well-formed coded stream, read with the coder itself.
inline std::vector<Item> ParseItems(const std::string& coded) {
  ScratchFile input(coded.substr(4));
  uint32_t size = 0;
  for (int k = 3; k >= 0; k--) size = size << 8 | static_cast<unsigned char>(coded[k]);
  std::vector<Item> items;
  codec::input_stream = input.stream();
  codec::StartCoder();
  for (uint32_t count = 0; count < size;) {
    int symbol = codec::DecodeSymbol();
    items.push_back(symbol < 256 ? Item{0, static_cast<unsigned>(symbol)} : Item{symbol - 253, codec::DecodePosition()});
    count += symbol < 256 ? 1 : symbol - 253;
  }
  return items;
}

inline std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

inline std::string Text(size_t size, unsigned seed) {
  static const char* const words[] = {"the ", "keyboard ", "driver ", "setup ", "archive ", "window ",
                                      "a ",   "of ",       "\n",      "install ", "file ",  "directory ",
                                      "and ", "to ",       "is ",     "0x1F, "};
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
