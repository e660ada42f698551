#include <functional>

#include "codec_support.h"

using namespace codec;

namespace {

std::string BitString(const std::string& bytes) {
  std::string bits;
  for (unsigned char byte : bytes) {
    for (int i = 7; i >= 0; i--) bits += static_cast<char>('0' + ((byte >> i) & 1));
  }
  return bits;
}

// The bits that body writes, padded to whole bytes.
std::string WrittenBits(const std::function<void()>& body) {
  ScratchFile output;
  output_stream = output.stream();
  coded_size = 0;
  body();
  FlushBits();
  return BitString(output.Contents());
}

// Number of levels between the root and the symbol's leaf.
int Depth(int symbol) {
  int depth = 0;
  for (int k = parent[NODE_COUNT + symbol]; k != ROOT; k = parent[k]) depth++;
  return depth;
}

// The tree's invariants: weights sorted, inner weights the sum of their
// children, links consistent both ways, every symbol at exactly one leaf.
void ExpectValidTree() {
  ASSERT_EQ(freq[NODE_COUNT], 0xFFFF);
  ASSERT_EQ(parent[ROOT], 0);
  std::vector<int> seen(SYMBOL_COUNT, 0);
  for (int n = 0; n < NODE_COUNT; n++) {
    if (n + 1 < NODE_COUNT) {
      ASSERT_LE(freq[n], freq[n + 1]) << "position " << n;
    }
    int c = child[n];
    if (c >= NODE_COUNT) {
      ASSERT_EQ(parent[c], n);
      seen[c - NODE_COUNT]++;
    } else {
      ASSERT_EQ(c % 2, 0);
      ASSERT_LT(c + 1, n);
      ASSERT_EQ(freq[n], freq[c] + freq[c + 1]) << "position " << n;
      ASSERT_EQ(parent[c], n);
      ASSERT_EQ(parent[c + 1], n);
    }
  }
  for (int s = 0; s < SYMBOL_COUNT; s++) ASSERT_EQ(seen[s], 1) << "symbol " << s;
}

TEST(Coder, InitialTreeGivesTheKnownCodes) {
  StartCoder();
  ExpectValidTree();
  for (int s = 0; s < SYMBOL_COUNT; s++) EXPECT_EQ(Depth(s), s < 116 ? 9 : 8) << "symbol " << s;

  const struct {
    int symbol;
    const char* code;
  } cases[] = {{0, "110001100"}, {97, "111101101"}, {255, "10001011"}, {256, "10001100"}, {313, "11000101"}};
  for (const auto& c : cases) {
    std::string bits = WrittenBits([&] {
      StartCoder();
      EncodeSymbol(c.symbol);
    });
    std::string code = c.code;
    EXPECT_EQ(bits, code + std::string(bits.size() - code.size(), '0')) << "symbol " << c.symbol;
    EXPECT_EQ(coded_size, bits.size() / 8);
  }
}

TEST(Coder, PositionCodes) {
  const struct {
    unsigned position;
    const char* bits;
  } cases[] = {{0, "0000000000000000"}, {1000, "1001111010000000"}, {4035, "1111111100001100"}};
  for (const auto& c : cases) {
    EXPECT_EQ(WrittenBits([&] {
                StartCoder();
                EncodePosition(c.position);
              }),
              c.bits);
  }

  // Every position survives a write and a read, back to back in one stream.
  ScratchFile file;
  output_stream = file.stream();
  StartCoder();
  for (unsigned p = 0; p < 4096; p++) EncodePosition(p);
  FlushBits();
  rewind(file.stream());
  input_stream = file.stream();
  StartCoder();
  for (unsigned p = 0; p < 4096; p++) ASSERT_EQ(DecodePosition(), p);
}

TEST(Coder, RebuildHalvesLeafWeightsRoundingUp) {
  StartCoder();
  // Leaves at positions 0 to 313 in symbol order; the last four weigh more.
  for (int s = 0; s < SYMBOL_COUNT; s++) freq[s] = 1;
  freq[310] = 2;
  freq[311] = 3;
  freq[312] = 4;
  freq[313] = 4;
  RebuildTree();
  ExpectValidTree();
  EXPECT_EQ(freq[parent[NODE_COUNT + 0]], 1);
  EXPECT_EQ(freq[parent[NODE_COUNT + 310]], 1);
  EXPECT_EQ(freq[parent[NODE_COUNT + 311]], 2);
  EXPECT_EQ(freq[parent[NODE_COUNT + 312]], 2);
  EXPECT_EQ(freq[ROOT], 310 + 1 + 2 + 2 + 2);
}

TEST(Coder, RebuildsWhenTheRootReachesTheLimitAndStaysInStep) {
  // A skewed sequence of symbols and positions, long enough for several
  // rebuilds; the decoder must follow the encoder through each of them.
  std::mt19937 generator(7);
  std::vector<int> symbols;
  for (int i = 0; i < 150000; i++) {
    unsigned r = generator();
    symbols.push_back(r % 3 == 0 ? static_cast<int>(r % SYMBOL_COUNT) : static_cast<int>((r >> 8) % 12));
  }
  ScratchFile file;
  output_stream = file.stream();
  StartCoder();
  int rebuilds = 0;
  for (size_t i = 0; i < symbols.size(); i++) {
    bool full = freq[ROOT] == FREQ_LIMIT;
    EncodeSymbol(symbols[i]);
    if (full) {
      rebuilds++;
      ASSERT_LT(freq[ROOT], FREQ_LIMIT / 2 + SYMBOL_COUNT);
      ExpectValidTree();
    }
    ASSERT_LE(freq[ROOT], FREQ_LIMIT);
    if (symbols[i] >= 256) EncodePosition(static_cast<unsigned>(i % 4096));
  }
  FlushBits();
  EXPECT_GE(rebuilds, 4);
  ExpectValidTree();

  rewind(file.stream());
  input_stream = file.stream();
  StartCoder();
  for (size_t i = 0; i < symbols.size(); i++) {
    ASSERT_EQ(DecodeSymbol(), symbols[i]) << "symbol number " << i;
    if (symbols[i] >= 256) {
      ASSERT_EQ(DecodePosition(), i % 4096);
    }
  }
}

TEST(Coder, CodesLongerThan16BitsAreWrittenWhole) {
  // 305 symbols keep weight 1; nine grow from 233 by about the golden ratio,
  // which pushes the light leaves 18 levels down below a root that is still
  // under the limit.
  const int heavy_weights[9] = {233, 376, 609, 985, 1594, 2579, 4173, 6752, 10944};
  std::vector<int> symbols;
  for (int round = 0; round < 10944; round++) {
    for (int h = 0; h < 9; h++) {
      if (round + 1 < heavy_weights[h]) symbols.push_back('a' + h);
    }
  }
  ScratchFile file;
  output_stream = file.stream();
  StartCoder();
  for (int symbol : symbols) EncodeSymbol(symbol);
  ASSERT_LT(freq[ROOT], FREQ_LIMIT);
  int deepest = 0;
  for (int s = 0; s < SYMBOL_COUNT; s++) {
    if (Depth(s) > Depth(deepest)) deepest = s;
  }
  ASSERT_GE(Depth(deepest), 18);

  // The deep symbol, a match symbol and a position around it.
  uint32_t before = coded_size;
  int depth = Depth(deepest);
  EncodeSymbol(deepest);
  EncodeSymbol(300);
  EncodePosition(1234);
  EncodeSymbol('a');
  FlushBits();
  EXPECT_GE((coded_size - before) * 8, static_cast<uint32_t>(depth));

  rewind(file.stream());
  input_stream = file.stream();
  StartCoder();
  for (size_t i = 0; i < symbols.size(); i++) ASSERT_EQ(DecodeSymbol(), symbols[i]);
  EXPECT_EQ(DecodeSymbol(), deepest);
  EXPECT_EQ(DecodeSymbol(), 300);
  EXPECT_EQ(DecodePosition(), 1234u);
  EXPECT_EQ(DecodeSymbol(), 'a');
}

}  // namespace
