#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "codec/codec.h"
#include "codec/codec_internal.h"
#include "support/scratch.h"

using namespace codec;
using namespace std::string_literals;

namespace {

// A file opened for reading and writing, removed at the end.
struct ScratchFile {
  inline static int serial = 0;
  std::string path = (fs::temp_directory_path() / ("codec-test-" + std::to_string(std::random_device()()) +
                                                   "-" + std::to_string(serial++))).string();
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
struct Outcome { int result; std::string output; long consumed; std::string printed; };

Outcome Code(int (*call)(FILE*, FILE*), const std::string& input_bytes) {
  ScratchFile input(input_bytes), output;
  testing::internal::CaptureStdout();
  int result = call(input.stream, output.stream);
  std::string printed = testing::internal::GetCapturedStdout();
  return {result, output.Contents(), ftell(input.stream), printed};
}

std::string Compress(const std::string& data) { return Code(CompressStream, data).output; }

void AppendTo(void* text, const uint8_t* bytes, size_t size) {
  static_cast<std::string*>(text)->append(reinterpret_cast<const char*>(bytes), size);
}

// A coder stage whose bytes gather in a string, with its tree at hand.
struct StringCoder {
  std::unique_ptr<CoderStage> stage = std::make_unique<CoderStage>();
  std::string bytes;
  SymbolEncoder& symbols = stage->symbols;
  HuffmanTree& tree = symbols.tree;
  StringCoder() { StartCoding(stage.get(), AppendTo, &bytes); }
  const std::string& Finish() {
    symbols.writer.FlushBits();
    symbols.writer.Drain();
    return bytes;
  }
};

int Depth(const HuffmanTree& tree, int symbol) {
  int depth = 0;
  for (int k = tree.parent[NODE_COUNT + symbol]; k != ROOT; k = tree.parent[k]) depth++;
  return depth;
}

// Weights sorted (freq[NODE_COUNT] is the 0xFFFF sentinel), inner weights
// the sums of their children, parent links matching the child links.
void ExpectValidTree(const HuffmanTree& tree) {
  for (int n = 0; n < NODE_COUNT; n++) {
    int c = tree.child[n];
    ASSERT_LE(tree.freq[n], tree.freq[n + 1]) << n;
    ASSERT_EQ(tree.parent[c], n) << n;
    ASSERT_TRUE(c >= NODE_COUNT || (tree.freq[n] == tree.freq[c] + tree.freq[c + 1] && tree.parent[c + 1] == n))
        << n;
  }
}

TEST(Coder, InitialSymbolCodesAndPositionCodes) {
  StringCoder initial;
  for (int s = 0; s < SYMBOL_COUNT; s++) EXPECT_EQ(Depth(initial.tree, s), s < 116 ? 9 : 8) << s;
  const std::tuple<bool, unsigned, std::string> cases[] = {
      {false, 0, "110001100"}, {false, 97, "111101101"}, {false, 255, "10001011"},
      {false, 256, "10001100"}, {false, 313, "11000101"}, {true, 0, "0000000000000000"},
      {true, 1000, "1001111010000000"}, {true, 4035, "1111111100001100"}};
  for (const auto& [position, value, code] : cases) {
    StringCoder coder;
    position ? coder.symbols.EncodePosition(value) : coder.symbols.EncodeSymbol(static_cast<int>(value));
    std::string bits;
    for (unsigned char byte : coder.Finish()) bits += std::bitset<8>(byte).to_string();
    EXPECT_EQ(bits, code + std::string((8 - code.size() % 8) % 8, '0')) << value;
  }
}

TEST(Coder, RebuildAtTheLimitHalvesLeafWeightsRoundingUp) {
  StringCoder coder;
  HuffmanTree& tree = coder.tree;
  for (unsigned i = SYMBOL_COUNT; i < FREQ_LIMIT; i++) coder.symbols.EncodeSymbol(i % 7 * 40);  // each adds 1 to the root
  ASSERT_EQ(tree.freq[ROOT], FREQ_LIMIT);
  coder.symbols.EncodeSymbol(1);
  EXPECT_LT(tree.freq[ROOT], FREQ_LIMIT / 2 + SYMBOL_COUNT);
  ExpectValidTree(tree);

  tree.Start();
  // Leaves sit at positions 0 to 313 in symbol order.
  for (int s = 0; s < SYMBOL_COUNT; s++) tree.freq[s] = 1;
  tree.freq[310] = 2;
  tree.freq[311] = 3;
  tree.freq[312] = tree.freq[313] = 4;
  tree.Rebuild();
  ExpectValidTree(tree);
  // A new inner node goes after all nodes of its weight: the first, of
  // weight 2, after the leaves of weight 2.
  EXPECT_EQ(tree.child[SYMBOL_COUNT], 0);
  for (int s : {0, 310, 311, 312, 313}) EXPECT_EQ(tree.freq[tree.parent[NODE_COUNT + s]], s < 311 ? 1 : 2) << s;
  EXPECT_EQ(tree.freq[ROOT], 310 + 1 + 2 + 2 + 2);
}

TEST(Coder, CodesLongerThan16BitsAreWrittenWhole) {
  // Nine symbols whose weights grow by about the golden ratio push the
  // light leaves 18 levels down while the root stays under the limit.
  const int heavy[9] = {233, 376, 609, 985, 1594, 2579, 4173, 6752, 10944};
  std::vector<int> symbols;
  for (int h = 0; h < 9; h++) symbols.insert(symbols.end(), heavy[h] - 1, 'a' + h);
  StringCoder coder;
  for (int symbol : symbols) coder.symbols.EncodeSymbol(symbol);
  ASSERT_LT(coder.tree.freq[ROOT], FREQ_LIMIT);
  int deep = 0;
  for (int s = 0; s < SYMBOL_COUNT; s++) deep = Depth(coder.tree, s) > Depth(coder.tree, deep) ? s : deep;
  ASSERT_GE(Depth(coder.tree, deep), 18);
  for (int symbol : {deep, 300, 97}) {  // the deep code, then codes right after it
    coder.symbols.EncodeSymbol(symbol);
    symbols.push_back(symbol);
  }
  ScratchFile file(coder.Finish());
  auto decoder = std::make_unique<SymbolDecoder>();
  decoder->reader.stream = file.stream;
  decoder->Start();
  for (int symbol : symbols) ASSERT_EQ(decoder->DecodeSymbol(), symbol);
}

// A window of zeros, so that only the strings a test places start with 'X'.
class MatchFinding : public testing::Test {
 protected:
  std::unique_ptr<MatchFinder> finder = std::make_unique<MatchFinder>();
  MatchFinder& f = *finder;
  void SetUp() override {
    memset(f.ring, 0, sizeof f.ring);
    f.Reset();
  }
  void Place(int position, const std::string& bytes) { memcpy(f.ring + position, bytes.data(), bytes.size()); }

  // In-order walk below node, checking the links, the first byte c and that
  // the strings rise strictly.
  void Walk(int parent_node, int node, int c, std::vector<int>* order) {
    if (node == NO_NODE) return;
    ASSERT_EQ(f.tree_parent[node], parent_node) << node;
    ASSERT_EQ(f.ring[node], c) << node;
    Walk(node, f.tree_left[node], c, order);
    ASSERT_TRUE(order->empty() || memcmp(f.ring + order->back(), f.ring + node, MAX_MATCH) < 0) << node;
    order->push_back(node);
    Walk(node, f.tree_right[node], c, order);
  }

  std::set<int> CheckedTreeMembers() {
    std::vector<int> order;
    for (int c = 0; c < 256; c++) Walk(WINDOW_SIZE + 1 + c, f.tree_right[WINDOW_SIZE + 1 + c], c, &order);
    return std::set<int>(order.begin(), order.end());
  }
};

TEST_F(MatchFinding, NearestOfEqualLengthWinsAndLongerBeatsNearer) {
  // The key at 1000 is XYZMNm; the nearer candidate is at 900, the farther at 100.
  const std::tuple<const char*, const char*, int, int> cases[] = {
      {"XYZB", "XYZZ", 3, 99}, {"XYZZ", "XYZB", 3, 99}, {"XYZZ", "XYZMNa", 5, 899}};
  for (const auto& [nearer, farther, length, position] : cases) {
    for (bool near_first : {false, true}) {
      SetUp();
      Place(1000, "XYZMNm");
      Place(900, nearer);
      Place(100, farther);
      for (int p : {near_first ? 900 : 100, near_first ? 100 : 900, 1000}) f.Insert(p);
      EXPECT_EQ(f.match_length, length) << nearer << farther << near_first;
      EXPECT_EQ(f.match_position, position) << nearer << farther << near_first;
    }
  }
}

TEST_F(MatchFinding, FullMatchReplacesTheIndexedPosition) {
  std::string string = "X" + RandomBytes(59, 2);
  Place(500, string);
  Place(2000, string);
  Place(600, string.substr(0, 30) + "\x01");
  for (int p : {500, 600, 2000}) f.Insert(p);
  EXPECT_EQ(f.match_length, MAX_MATCH);
  EXPECT_EQ(f.match_position, 2000 - 500 - 1);
  EXPECT_EQ(f.tree_right[WINDOW_SIZE + 1 + 'X'], 2000);  // at the root, with 600 below
  EXPECT_EQ(CheckedTreeMembers(), (std::set<int>{600, 2000}));
}

TEST_F(MatchFinding, InsertAndDeleteKeepEveryTreeOrdered) {
  // Two byte values with long runs: strings share long prefixes, trees grow
  // deep, and many insertions are full matches that replace a position.
  std::string bytes = RandomBytes(WINDOW_SIZE, 3);
  for (int i = 0; i < RING_SIZE; i++) f.ring[i] = i % WINDOW_SIZE % 97 < 70 ? 'a' : "ab"[bytes[i % WINDOW_SIZE] & 1];
  std::mt19937 generator(4);
  std::set<int> model;
  for (int step = 1; step <= 20000; step++) {
    int p = static_cast<int>(generator() % WINDOW_SIZE);
    f.Delete(p);  // the compressor never inserts a position twice
    model.erase(p);
    if (generator() % 3 != 0) {
      f.Insert(p);
      model.insert(p);
      if (f.match_length == MAX_MATCH) model.erase((p - f.match_position - 1) & (WINDOW_SIZE - 1));
    }
    if (step % 1000 == 0) {
      ASSERT_EQ(CheckedTreeMembers(), model) << "step " << step;
    }
  }
}

TEST(MatchWindow, ReachesBack4036BytesAndNoFurther) {
  // A random block repeated 4036 bytes later codes as two matches at
  // position 4035; 4037 bytes later it is out of reach, 100 literals.
  std::string block = RandomBytes(100, 5);
  size_t sizes[2];
  for (size_t distance : {4036, 4037}) {
    std::string data = block + RandomBytes(distance - block.size(), 6) + block, coded = Compress(data);
    EXPECT_EQ(Code(DecompressStream, coded).output, data);
    sizes[distance - 4036] = coded.size();
  }
  EXPECT_GT(sizes[1], sizes[0] + 80);
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char b : bytes) {
    hex += std::string(hex.empty() ? "" : " ") + "0123456789abcdef"[b >> 4] + "0123456789abcdef"[b & 15];
  }
  return hex;
}

// Runs of up to 255 equal bytes, with short random stretches between.
std::string Runs(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes;
  for (unsigned r = 0; bytes.size() < size; r = generator()) {
    bytes += r % 4 == 0 ? RandomBytes(r >> 8 & 15, r) : std::string(r >> 8 & 255, "\0 a\xff"[r >> 16 & 3]);
  }
  return bytes.substr(0, size);
}

TEST(CompressStream, KnownStreams) {
  const std::pair<std::string, const char*> examples[] = {
      {"", "00 00 00 00 00 ff"},
      {"a", "01 00 00 00 f6 80 00 ff"},
      {"abc", "03 00 00 00 f6 fb bd e0 00 ff"},
      {"abcabcabc", "09 00 00 00 f6 fb bd f1 e0 20 00 ff"},
      {std::string(110, 'a'), "6e 00 00 00 f6 fb 40 17 40 00 00 ff"},
      {std::string(63, ' '), "3f 00 00 00 c5 1d c6 0e 00 00 ff"}};
  for (const auto& [data, hex] : examples) {
    Outcome compressed = Code(CompressStream, data);
    EXPECT_EQ(compressed.result, COMPRESS_OK);
    EXPECT_EQ(Hex(compressed.output), hex);
    Outcome decoded = Code(DecompressStream, compressed.output);
    EXPECT_EQ(decoded.result, 0);
    EXPECT_EQ(decoded.output, data);
    EXPECT_EQ(decoded.consumed, static_cast<long>(compressed.output.size()));
    std::string count = std::to_string(data.size());
    EXPECT_EQ(decoded.printed, data.empty() ? "" : std::string(12 - count.size(), ' ') + count + "\n");
  }
  EXPECT_EQ(Code(CompressStream, "abc").printed, "input: 3 bytes\noutput: 4 bytes\noutput/input: 1.333\n");
}

TEST(CompressStream, RoundTripsOfManySizesAndKinds) {
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 300; size++) sizes.push_back(size);
  // Around the window, and large enough to rebuild the tree dozens of times.
  for (size_t size : {4035, 4036, 4037, 4095, 4096, 4097, 4155, 65535, 65536, 65537, 1 << 21}) sizes.push_back(size);
  for (size_t size : sizes) {
    unsigned seed = static_cast<unsigned>(size);
    for (const std::string& data :
         {RandomBytes(size, seed), TextBytes(size), Runs(size, seed), std::string(60, ' ') + TextBytes(size)}) {
      std::string coded = Compress(data);
      Outcome decoded = Code(size % 2 == 0 ? DecompressStream : DecompressMember, coded + "next");
      ASSERT_EQ(decoded.result, 0) << size;
      ASSERT_TRUE(decoded.output == data) << size;
      ASSERT_EQ(decoded.consumed, static_cast<long>(coded.size())) << size;
    }
  }
}

TEST(CompressStream, PacksTheWholeFileAsItStoodWhenItsSizeWasTaken) {
  // The stream goes to the end of the very file it packs, whose own stream
  // stands in the middle: the file grows while it is read.
  std::string data = RandomBytes(100000, 91);
  ScratchFile file(data);
  fseek(file.stream, 1234, SEEK_SET);
  FILE* appender = fopen(file.path.c_str(), "ab");
  EXPECT_EQ(CompressStream(file.stream, appender), COMPRESS_OK);
  fclose(appender);
  std::string contents = file.Contents();
  EXPECT_TRUE(contents.compare(0, data.size(), data) == 0);
  Outcome decoded = Code(DecompressStream, contents.substr(data.size()));
  EXPECT_EQ(decoded.result, 0);
  EXPECT_TRUE(decoded.output == data);
  EXPECT_EQ(decoded.consumed, static_cast<long>(contents.size() - data.size()));
}

TEST(CompressStream, RefusesAnInputTheSizeHeaderCannotHold) {
  ScratchFile big, output;
  std::error_code error;
  fs::resize_file(big.path, (uint64_t{1} << 32) + 10, error);
  if (error) GTEST_SKIP() << "no room for a sparse 4 GiB file: " << error.message();
  EXPECT_EQ(CompressStream(big.stream, output.stream), COMPRESS_BAD_INPUT);
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
  EXPECT_EQ(CompressStream(input, output.stream), COMPRESS_SHORT_INPUT);
  fclose(input);
  std::string coded = output.Contents();
  Outcome decoded = Code(DecompressStream, coded + "next");
  EXPECT_EQ(decoded.result, 0);
  EXPECT_EQ(decoded.output, std::string(1000, '\0'));
  EXPECT_EQ(decoded.consumed, static_cast<long>(coded.size()));
}
#endif

TEST(DecompressStream, TwoStreamsBackToBackOnOneFile) {
  std::string first = TextBytes(7000), second = Runs(3000, 42);
  std::string coded_first = Compress(first);
  ScratchFile input(coded_first + Compress(second) + "rest"), output1, output2;
  EXPECT_EQ(DecompressStream(input.stream, output1.stream), 0);
  EXPECT_EQ(ftell(input.stream), static_cast<long>(coded_first.size()));
  EXPECT_EQ(DecompressStream(input.stream, output2.stream), 0);
  EXPECT_EQ(output1.Contents(), first);
  EXPECT_EQ(output2.Contents(), second);
  EXPECT_EQ(fgetc(input.stream), 'r');
}

TEST(DecompressStream, EndMarks) {
  // Pad bytes 00 are skipped, FF ends well; any other byte, or the end of
  // the input, ends badly. Columns: the end, the result, the bytes it reads.
  const std::tuple<std::string, int, size_t> cases[] = {{"\0\0\xff"s, 0, 3}, {"\0\x41\xff"s, 1, 2}, {"\0"s, 1, 1}};
  for (const std::string& data : {""s, "abc"s}) {
    std::string bits = Compress(data);
    bits.resize(bits.size() - 2);
    for (const auto& [end, result, read] : cases) {
      Outcome run = Code(DecompressStream, bits + end);
      EXPECT_EQ(run.result, result) << Hex(end);
      EXPECT_EQ(run.output, data);
      EXPECT_EQ(run.consumed, static_cast<long>(bits.size() + read));
    }
  }
}

TEST(DecompressMember, EveryCutIsReportedWithoutInventedBytes) {
  std::string data = TextBytes(1500) + RandomBytes(200, 72);
  std::string coded = Compress(data);
  for (size_t cut = 0; cut < coded.size(); cut++) {
    Outcome member = Code(DecompressMember, coded.substr(0, cut));
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
    Outcome plain = Code(DecompressStream, coded.substr(0, cut));
    ASSERT_EQ(plain.result, 1) << cut;
    ASSERT_LT(plain.output.size() - data.size(), size_t{MAX_MATCH}) << cut;
    ASSERT_EQ(plain.output.substr(0, member.output.size()), member.output) << cut;
  }
  // A stated size of 4 GiB stops as soon as the bits run out.
  coded.replace(0, 4, "\xff\xff\xff\xff");
  Outcome huge = Code(DecompressMember, coded.substr(0, coded.size() - 2));
  EXPECT_EQ(huge.result, DECODE_TRUNCATED);
  EXPECT_LT(huge.output.size(), data.size() + MAX_MATCH);
}

// The compressor as a plain loop, every insertion with its match: the bit
// stream that the batched insertions of EncodeStream must reproduce.
std::string PlainCompressBits(const std::string& data, const WindowCarry& carry) {
  StringCoder coder;
  auto finder = std::make_unique<MatchFinder>();
  MatchFinder& f = *finder;
  f.Reset();
  size_t next = std::min(data.size(), size_t{MAX_MATCH});
  memset(f.ring, ' ', START_POSITION);
  memcpy(f.ring + START_POSITION, carry.bytes, CARRY_SIZE);
  memcpy(f.ring + START_POSITION, data.data(), next);
  int s = 0, r = START_POSITION, len = static_cast<int>(next);
  for (int i = 1; i <= MAX_MATCH; i++) f.Insert(r - i);
  f.Insert(r);
  while (len > 0) {
    int length = std::min(f.match_length, len);
    if (length <= MATCH_THRESHOLD) length = 1;
    coder.symbols.EncodeSymbol(length == 1 ? f.ring[r] : length + 253);
    if (length > 1) coder.symbols.EncodePosition(f.match_position);
    for (int i = length; i > 0; i--) {
      f.Delete(s);
      if (next < data.size()) {
        f.ring[s] = static_cast<uint8_t>(data[next++]);
        if (s < MAX_MATCH - 1) f.ring[s + WINDOW_SIZE] = f.ring[s];
      } else {
        len--;
      }
      s = (s + 1) & (WINDOW_SIZE - 1);
      r = (r + 1) & (WINDOW_SIZE - 1);
      if (len > 0) f.Insert(r);
    }
  }
  return coder.Finish() + std::string("\0\xff", 2);
}

// The bit stream and end mark of data, from carry, which is advanced.
std::string EncodeString(Encoder* encoder, const std::string& data, WindowCarry* carry) {
  ScratchFile input(data);
  std::string coded;
  uint32_t coded_size;
  EXPECT_EQ(EncodeStream(encoder, input.stream, static_cast<uint32_t>(data.size()), carry, AppendTo, &coded,
                         &coded_size), COMPRESS_OK);
  EXPECT_EQ(coded_size + 2, coded.size());
  return coded;
}

WindowCarry RandomCarry(unsigned seed) {
  WindowCarry carry;
  std::string bytes = RandomBytes(CARRY_SIZE, seed);
  memcpy(carry.bytes, bytes.data(), CARRY_SIZE);
  return carry;
}

TEST(CompressStream, BatchedInsertionsCodeAsOneAtATime) {
  std::string text = TextBytes(2000), indented;
  while (indented.size() < 400000) {
    indented += std::string(indented.size() % 37, ' ') + text.substr(indented.size() % 1900, 50) + "\n";
  }
  auto encoder = std::make_unique<Encoder>();
  for (const std::string& data : {TextBytes(1 << 20), Runs(1 << 19, 102), RandomBytes(100000, 103), indented,
                                  std::string(5000, 'z'), TextBytes(59), TextBytes(4097), std::string(100, ' '),
                                  // spaces and the first bytes again: a match in the window's first strings
                                  "abcdef   abcdef"s, "\nabcdef   \nabcdef"s}) {
    // Both start from the same carry, which can sway the choice of matches.
    WindowCarry carry = RandomCarry(static_cast<unsigned>(data.size())), plain_carry = carry;
    ASSERT_TRUE(EncodeString(encoder.get(), data, &carry) == PlainCompressBits(data, plain_carry))
        << data.size() << " bytes";
  }
}

TEST(Encoder, TheCarryFollowsFromEachInputsTailAlone) {
  // Compressed one after another from one carry, and predicted from the
  // inputs alone; short inputs keep part of what came before them.
  auto encoder = std::make_unique<Encoder>();
  WindowCarry carry = RandomCarry(7), predicted = carry;
  std::set<std::string> streams;
  for (size_t size : {0, 1, 59, 60, 61, 118, 119, 120, 30, 4095, 4096, 4097, 4155, 4156, 100, 10000, 5, 0}) {
    std::string data = size % 2 ? RandomBytes(size, static_cast<unsigned>(size)) : std::string(size, ' ');
    EncodeString(encoder.get(), data, &carry);
    size_t tail = std::min(size, size_t{WINDOW_SIZE});
    AdvanceCarry(&predicted, reinterpret_cast<const uint8_t*>(data.data() + size - tail), size);
    ASSERT_EQ(memcmp(carry.bytes, predicted.bytes, CARRY_SIZE), 0) << size;
  }
  // The carry does make a difference: after spaces, three spaces match the
  // farthest spaces of the window (position 59), else the nearest.
  carry = WindowCarry{};
  std::string spaces(3, ' '), after_blank = EncodeString(encoder.get(), spaces, &carry);
  memset(carry.bytes, ' ', CARRY_SIZE);
  EXPECT_NE(EncodeString(encoder.get(), spaces, &carry), after_blank);
}

TEST(Encoder, TwoEncodersAndTwoDecodersInterleavedWorkAsOneAfterTheOther) {
  struct Stream {
    std::string data, alone, together;
    std::unique_ptr<MatchStage> match = std::make_unique<MatchStage>();
    std::unique_ptr<CoderStage> coder = std::make_unique<CoderStage>();
    std::unique_ptr<Decoder> decoder = std::make_unique<Decoder>();
    std::unique_ptr<ScratchFile> input, coded, output = std::make_unique<ScratchFile>();
    bool encoding = true, decoding = true;
  } streams[2];
  streams[0].data = TextBytes(300000);
  streams[1].data = Runs(200000, 9);
  auto encoder = std::make_unique<Encoder>();
  for (Stream& s : streams) {
    WindowCarry carry{};
    s.alone = EncodeString(encoder.get(), s.data, &carry);
    s.input = std::make_unique<ScratchFile>(s.data);
    s.coded = std::make_unique<ScratchFile>(s.alone);
    uint32_t size = static_cast<uint32_t>(s.data.size());
    StartMatching(s.match.get(), s.input->stream, size, WindowCarry{});
    StartCoding(s.coder.get(), AppendTo, &s.together);
    s.decoder->Start(s.coded->stream, s.output->stream, size, WindowCarry{}, true);
  }
  TokenBlock block;
  for (bool busy = true; busy;) {  // taking turns, a block at a time
    busy = false;
    for (Stream& s : streams) {
      if (s.encoding) {
        s.encoding = FindTokens(s.match.get(), &block);
        CodeTokens(s.coder.get(), &block);
      }
      if (s.decoding) s.decoding = s.decoder->Step();
      busy |= s.encoding || s.decoding;
    }
  }
  for (Stream& s : streams) {
    FinishCoding(s.coder.get());
    EXPECT_TRUE(s.together == s.alone);
    EXPECT_TRUE(s.output->Contents() == s.data);
  }
}

}  // namespace
