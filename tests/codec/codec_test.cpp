#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/codec_internal.h"
#include "support/scratch.h"

using namespace codec;
using namespace std::string_literals;

namespace {

// A file opened for reading and writing, removed at the end.
struct ScratchFile {
  std::string path = NewScratchPath("codec-test").string();
  FILE* stream = fopen(path.c_str(), "w+b");
  explicit ScratchFile(const std::string& contents = "") {
    fwrite(contents.data(), 1, contents.size(), stream);
    rewind(stream);
  }
  ~ScratchFile() {
    fclose(stream);
    remove(path.c_str());
  }
  std::string Contents() const {
    fflush(stream);
    return ReadBytes(path);
  }
};

// A codec call's result, output, input bytes read, and printed text.
struct Outcome {
  int result;
  std::string output;
  long consumed;
  std::string printed;
};

Outcome Code(int (*call)(FILE*, FILE*), const std::string& input_bytes) {
  ScratchFile input(input_bytes), output;
  testing::internal::CaptureStdout();
  int result = call(input.stream, output.stream);
  std::string printed = testing::internal::GetCapturedStdout();
  return {result, output.Contents(), ftell(input.stream), printed};
}

// What one stream leaves for the next, handed on as one window would.
WindowCarry carry;

int Compressed(FILE* input, FILE* output) { return CompressStream(input, output, &carry); }
int Decompressed(FILE* input, FILE* output) { return DecompressStream(input, output, &carry); }
int Member(FILE* input, FILE* output) {
  std::unique_ptr<Decoder, void (*)(void*)> decoder(NewDecoder(malloc), free);
  StdioSource source;
  OpenStdioSource(&source, input);
  uint64_t decoded;
  int result = DecompressMember(decoder.get(), &source.source, WriteToStdio, output, &carry, &decoded);
  CloseStdioSource(&source);
  return result;
}

std::string Compress(const std::string& data) { return Code(Compressed, data).output; }

// Runs of up to 255 equal bytes, with short random stretches between.
std::string Runs(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes;
  for (unsigned r = 0; bytes.size() < size; r = generator())
    bytes += r % 4 == 0 ? RandomBytes(r >> 8 & 15, r) : std::string(r >> 8 & 255, "\0 a\xff"[r >> 16 & 3]);
  return bytes.substr(0, size);
}

TEST(CompressStream, KnownStreams) {
  carry = WindowCarry{};
  const std::pair<std::string, const char*> examples[] = {
      {"", "00 00 00 00 00 ff"},
      {"a", "01 00 00 00 f6 80 00 ff"},
      {"abc", "03 00 00 00 f6 fb bd e0 00 ff"},
      {"abcabcabc", "09 00 00 00 f6 fb bd f1 e0 20 00 ff"},
      {std::string(110, 'a'), "6e 00 00 00 f6 fb 40 17 40 00 00 ff"},
      {std::string(63, ' '), "3f 00 00 00 c5 1d c6 0e 00 00 ff"}};
  for (const auto& [data, hex] : examples) {
    Outcome compressed = Code(Compressed, data);
    EXPECT_EQ(compressed.result, COMPRESS_OK);
    EXPECT_EQ(Hex(compressed.output), hex);
    Outcome decoded = Code(Decompressed, compressed.output);
    EXPECT_EQ(decoded.result, 0);
    EXPECT_EQ(decoded.output, data);
    EXPECT_EQ(decoded.consumed, static_cast<long>(compressed.output.size()));
    std::string count = std::to_string(data.size());
    EXPECT_EQ(decoded.printed, data.empty() ? "" : std::string(12 - count.size(), ' ') + count + "\n");
  }
  EXPECT_EQ(Code(Compressed, "abc").printed, "input: 3 bytes\noutput: 4 bytes\noutput/input: 1.333\n");
}

uint64_t Fnv(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

TEST(CompressStream, KnownBytesOfLargeInputsOneAfterAnother) {
  // Large inputs rebuild the tree many times; every input starts from the
  // window the one before it leaves, which can sway the choice among equal
  // matches (spaces after spaces match the window's farthest ones). The
  // digest pins every byte of the streams as this format has them.
  std::string text = TextBytes(2000), indented;
  while (indented.size() < 400000)
    indented += std::string(indented.size() % 37, ' ') + text.substr(indented.size() % 1900, 50) + "\n";
  std::vector<std::string> inputs = {TextBytes(1 << 20), Runs(1 << 19, 102), RandomBytes(100000, 103), indented,
                                     "abcdef   abcdef"s, "\nabcdef   \nabcdef"s};
  for (size_t size : {0, 1, 59, 60, 61, 118, 119, 120, 30, 4095, 4096, 4097, 4155, 4156, 100, 10000, 5, 3, 0})
    inputs.push_back(size % 2 ? RandomBytes(size, static_cast<unsigned>(size)) : std::string(size, ' '));
  carry = WindowCarry{};
  std::string streams;
  for (const std::string& data : inputs) streams += Compress(data);
  EXPECT_EQ(streams.size(), 339652u);
  EXPECT_EQ(Fnv(streams), 16749211310878671203u);
  carry = WindowCarry{};
  ScratchFile coded(streams);
  for (const std::string& data : inputs) {
    ScratchFile output;
    ASSERT_EQ(Member(coded.stream, output.stream), DECODE_OK);
    ASSERT_TRUE(output.Contents() == data) << data.size();
  }
}

TEST(CompressStream, RoundTripsOfManySizesAndKinds) {
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 130; size++) sizes.push_back(size);
  // Around the window and 64 KiB; the large inputs of the test before
  // rebuild the Huffman tree many times.
  for (size_t size : {4035, 4036, 4037, 4095, 4096, 4097, 4155, 65535, 65536, 65537}) sizes.push_back(size);
  for (size_t size : sizes) {
    unsigned seed = static_cast<unsigned>(size);
    for (const std::string& data :
         {RandomBytes(size, seed), TextBytes(size), Runs(size, seed), std::string(60, ' ') + TextBytes(size)}) {
      std::string coded = Compress(data);
      Outcome decoded = Code(size % 2 == 0 ? Decompressed : Member, coded + "next");
      ASSERT_EQ(decoded.result, 0) << size;
      ASSERT_TRUE(decoded.output == data) << size;
      ASSERT_EQ(decoded.consumed, static_cast<long>(coded.size())) << size;
    }
  }
}

int AppendTo(void* text, const uint8_t* bytes, size_t size) {
  static_cast<std::string*>(text)->append(reinterpret_cast<const char*>(bytes), size);
  return 0;
}

// A source that hands out its bytes in pieces of one size.
struct PieceSource {
  ByteSource source;
  const uint8_t* bytes;
  size_t size;
  size_t piece;
  size_t given = 0;
  static int Fill(ByteSource* self) {
    PieceSource* s = reinterpret_cast<PieceSource*>(self);
    if (s->given == s->size) return EOF;
    size_t part = std::min(s->piece, s->size - s->given);
    self->next = s->bytes + s->given + 1;
    self->end = s->bytes + s->given + part;
    s->given += part;
    return s->bytes[s->given - part];
  }
};

// Streams one after another end exactly where they end, however the source
// cuts its buffers: the reader may take bytes ahead within a buffer, but
// never past a stream's end.
TEST(DecompressMember, StreamsEndAtTheirEndWhateverPiecesTheSourceHandsOut) {
  std::vector<std::string> inputs;
  for (size_t size : {1, 2, 3, 7, 8, 9, 60, 119, 1000, 5000})
    for (const std::string& data : {RandomBytes(size, static_cast<unsigned>(size)), TextBytes(size), Runs(size, 5)})
      inputs.push_back(data);
  carry = WindowCarry{};
  std::vector<std::string> coded;
  std::string streams;
  for (const std::string& data : inputs) streams += coded.emplace_back(Compress(data));
  std::unique_ptr<Decoder, void (*)(void*)> decoder(NewDecoder(malloc), free);
  for (size_t piece : {1, 2, 7, 8, 9, 15, 16, 4096}) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(streams.data());
    PieceSource source{{bytes, bytes, PieceSource::Fill, false}, bytes, streams.size(), piece};
    carry = WindowCarry{};
    size_t end = 0;
    for (size_t i = 0; i < inputs.size(); i++) {
      std::string out;
      uint64_t decoded;
      ASSERT_EQ(DecompressMember(decoder.get(), &source.source, AppendTo, &out, &carry, &decoded), DECODE_OK)
          << piece << " " << i;
      ASSERT_TRUE(out == inputs[i]) << piece << " " << i;
      end += coded[i].size();
      ASSERT_EQ(static_cast<size_t>(source.source.next - bytes), end) << piece << " " << i;
    }
  }
}

int Depth(const HuffmanTree& tree, int symbol) {
  int depth = 0;
  for (int k = tree.parent[NODE_COUNT + symbol]; k != ROOT; k = tree.parent[k]) depth++;
  return depth;
}

TEST(Coder, CodesLongerThan16BitsAreWrittenAndReadWhole) {
  // Nine symbols whose weights grow by about the golden ratio push the
  // light leaves 18 levels down while the root stays under the limit.
  const int heavy[9] = {233, 376, 609, 985, 1594, 2579, 4173, 6752, 10944};
  std::vector<int> symbols;
  for (int h = 0; h < 9; h++) symbols.insert(symbols.end(), heavy[h] - 1, 'a' + h);
  auto coder = std::make_unique<CoderStage>();
  std::string bytes;
  StartCoding(coder.get(), AppendTo, &bytes);
  SymbolEncoder& encoder = coder->symbols;
  for (int symbol : symbols) encoder.EncodeSymbol(symbol);
  ASSERT_LT(encoder.tree.freq[ROOT], FREQ_LIMIT);
  int deep = 0;
  for (int s = 0; s < SYMBOL_COUNT; s++) deep = Depth(encoder.tree, s) > Depth(encoder.tree, deep) ? s : deep;
  ASSERT_GE(Depth(encoder.tree, deep), 18);
  for (int symbol : {deep, 300, 97}) {  // the deep code, then codes right after it
    encoder.EncodeSymbol(symbol);
    symbols.push_back(symbol);
  }
  encoder.writer.FlushBits();
  encoder.writer.Drain();
  ScratchFile file(bytes);
  StdioSource source;
  OpenStdioSource(&source, file.stream);
  auto decoder = std::make_unique<SymbolDecoder>();
  decoder->reader.stream = &source.source;
  decoder->Start();
  for (int symbol : symbols) ASSERT_EQ(decoder->DecodeSymbol(), symbol);
}

TEST(CompressStream, RefusesAnInputTheSizeHeaderCannotHold) {
  ScratchFile big, output;
  std::error_code error;
  fs::resize_file(big.path, (uint64_t{1} << 32) + 10, error);
  if (error) GTEST_SKIP() << "no room for a sparse 4 GiB file: " << error.message();
  EXPECT_EQ(Compressed(big.stream, output.stream), COMPRESS_BAD_INPUT);
  EXPECT_EQ(output.Contents(), "");
}

#if defined(__GLIBC__)
TEST(CompressStream, InputThatShrinksIsReportedAndTheStreamStaysWhole) {
  // A stream that claims 1000 bytes and delivers none, as a file that
  // shrinks after its size was taken.
  static off64_t at;
  cookie_io_functions_t io = {};
  io.read = [](void*, char*, size_t) -> ssize_t { return 0; };
  io.seek = [](void*, off64_t* offset, int whence) {
    *offset = at = (whence == SEEK_END ? 1000 : whence == SEEK_CUR ? at : 0) + *offset;
    return 0;
  };
  FILE* input = fopencookie(nullptr, "rb", io);
  ScratchFile output;
  EXPECT_EQ(Compressed(input, output.stream), COMPRESS_SHORT_INPUT);
  fclose(input);
  Outcome decoded = Code(Decompressed, output.Contents() + "next");
  EXPECT_EQ(decoded.result, 0);
  EXPECT_EQ(decoded.output, std::string(1000, '\0'));
  EXPECT_EQ(decoded.consumed, static_cast<long>(output.Contents().size()));
}
#endif

TEST(DecompressStream, EndMarks) {
  // Pad bytes 00 are skipped, FF ends well; any other byte, or the end of
  // the input, ends badly. Columns: the end, the result, the bytes it reads.
  const std::tuple<std::string, int, size_t> cases[] = {{"\0\0\xff"s, 0, 3}, {"\0\x41\xff"s, 1, 2}, {"\0"s, 1, 1}};
  for (const std::string& data : {""s, "abc"s}) {
    std::string bits = Compress(data);
    bits.resize(bits.size() - 2);
    for (const auto& [end, result, read] : cases) {
      Outcome run = Code(Decompressed, bits + end);
      EXPECT_EQ(run.result, result) << Hex(end);
      EXPECT_EQ(run.output, data);
      EXPECT_EQ(run.consumed, static_cast<long>(bits.size() + read));
    }
  }
}

TEST(DecompressMember, EveryCutIsReportedWithoutInventedBytes) {
  std::string data = TextBytes(500) + RandomBytes(100, 72);
  std::string coded = Compress(data);
  for (size_t cut = 0; cut < coded.size(); cut++) {
    Outcome member = Code(Member, coded.substr(0, cut));
    if (cut >= coded.size() - 2) {
      // The bits are all there; only the end mark is missing.
      ASSERT_EQ(member.result, DECODE_BAD_END_MARK) << cut;
      ASSERT_EQ(member.output, data);
    } else {
      ASSERT_EQ(member.result, DECODE_TRUNCATED) << cut;
      ASSERT_LT(member.output.size(), data.size()) << cut;
      ASSERT_EQ(member.output, data.substr(0, member.output.size())) << cut;
    }
    if (cut < 4) continue;  // a short size header ends DecompressStream's process
    // DecompressStream reads the missing bytes as zeros, up to the stated size.
    Outcome plain = Code(Decompressed, coded.substr(0, cut));
    ASSERT_EQ(plain.result, 1) << cut;
    ASSERT_LT(plain.output.size() - data.size(), size_t{MAX_MATCH}) << cut;
    ASSERT_EQ(plain.output.substr(0, member.output.size()), member.output) << cut;
  }
  // A stated size of 4 GiB stops as soon as the bits run out.
  coded.replace(0, 4, "\xff\xff\xff\xff");
  Outcome huge = Code(Member, coded.substr(0, coded.size() - 2));
  EXPECT_EQ(huge.result, DECODE_TRUNCATED);
  EXPECT_LT(huge.output.size(), data.size() + MAX_MATCH);
}


// A stream made by hand: one match of three bytes at distance (4096 names
// the window's first place, a carried byte).
std::string MatchAt(unsigned distance) {
  auto coder = std::make_unique<CoderStage>();
  std::string bytes("\x03\0\0\0", 4);
  StartCoding(coder.get(), AppendTo, &bytes);
  coder->symbols.EncodeSymbol(256);
  coder->symbols.EncodePosition(distance - 1);
  FinishCoding(coder.get());
  return bytes;
}

// Decodes one stream from bytes in memory after the carry given.
std::string DecodeAfter(Decoder* decoder, const std::string& coded, WindowCarry* carry) {
  std::string out;
  ByteSource source = {reinterpret_cast<const uint8_t*>(coded.data()),
                       reinterpret_cast<const uint8_t*>(coded.data()) + coded.size(),
                       [](ByteSource*) { return EOF; }, false};
  uint64_t decoded;
  EXPECT_EQ(DecompressMember(decoder, &source, AppendTo, &out, carry, &decoded), DECODE_OK);
  return out;
}

// Bytes decoded elsewhere (ahead, on another thread) leave the carry that
// decoding them here would, for every length around the carried bytes and
// the window, after any carry. The compressor's streams never use the
// carried bytes; a hand-made one can, and is told.
TEST(DecompressMember, TheCarryOfBytesDecodedElsewhereAndStreamsThatUseIt) {
  std::unique_ptr<Decoder, void (*)(void*)> decoder(NewDecoder(malloc), free);
  std::mt19937 generator(5);
  for (size_t size : {0, 1, 59, 60, 61, 118, 119, 120, 4095, 4096, 4097, 9000}) {
    for (unsigned seed = 0; seed < 3; seed++) {
      for (uint8_t& byte : carry.bytes) byte = static_cast<uint8_t>(generator());
      std::string data = seed == 0 ? Runs(size, seed) : RandomBytes(size, seed);
      std::string coded = Compress(data);
      WindowCarry before;
      for (uint8_t& byte : before.bytes) byte = static_cast<uint8_t>(generator());
      WindowCarry decoded_carry = before, computed = before;
      ASSERT_EQ(DecodeAfter(decoder.get(), coded, &decoded_carry), data);
      EXPECT_FALSE(StreamUsedCarry(decoder.get())) << size;
      size_t kept = size < 4096 ? size : 4096;
      CarryAfterDecoding(&computed, reinterpret_cast<const uint8_t*>(data.data()) + size - kept, size);
      EXPECT_EQ(memcmp(computed.bytes, decoded_carry.bytes, 60), 0) << size << " " << seed;
    }
  }
  WindowCarry zeros{}, letters;
  memset(letters.bytes, 'x', sizeof letters.bytes);
  EXPECT_EQ(DecodeAfter(decoder.get(), MatchAt(4096), &letters), "xxx");
  EXPECT_TRUE(StreamUsedCarry(decoder.get()));
  EXPECT_EQ(DecodeAfter(decoder.get(), MatchAt(4096 - 57), &zeros), std::string("\0\0\0", 3));
  EXPECT_TRUE(StreamUsedCarry(decoder.get()));
  // The spaces after the carried bytes are the same after any carry.
  EXPECT_EQ(DecodeAfter(decoder.get(), MatchAt(4096 - 60), &letters), "   ");
  EXPECT_FALSE(StreamUsedCarry(decoder.get()));
}

}  // namespace
