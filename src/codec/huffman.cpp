// Adaptive Huffman coder over 314 symbols, the fixed position code, and the
// bit writer and reader that pack them most significant bit first.
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/codec_internal.h"

namespace codec {

constexpr std::array<uint8_t, 64> position_code_length = {
    3, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
    6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};
constexpr std::array<uint8_t, 64> position_code = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78, 0x80, 0x88, 0x90,
    0x94, 0x98, 0x9C, 0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC, 0xC0, 0xC2,
    0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE, 0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC,
    0xDE, 0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE, 0xF0, 0xF1, 0xF2, 0xF3,
    0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

// Every byte that begins with the code of h decodes to h (want_length 0) or
// to that code's length (want_length 1).
static constexpr std::array<uint8_t, 256> InvertPositionCode(bool want_length) {
  std::array<uint8_t, 256> table{};
  for (int h = 0; h < 64; h++) {
    int first = position_code[h];
    int last = first + (1 << (8 - position_code_length[h]));
    for (int b = first; b < last; b++) {
      table[b] = want_length ? position_code_length[h] : static_cast<uint8_t>(h);
    }
  }
  return table;
}

constexpr std::array<uint8_t, 256> position_decode_high = InvertPositionCode(false);
constexpr std::array<uint8_t, 256> position_decode_length = InvertPositionCode(true);

void HuffmanTree::Start() {
  for (int s = 0; s < SYMBOL_COUNT; s++) {
    freq[s] = 1;
    child[s] = static_cast<uint16_t>(NODE_COUNT + s);
    parent[NODE_COUNT + s] = static_cast<uint16_t>(s);
  }
  for (int i = 0, j = SYMBOL_COUNT; j < NODE_COUNT; i += 2, j++) {
    freq[j] = static_cast<uint16_t>(freq[i] + freq[i + 1]);
    child[j] = static_cast<uint16_t>(i);
    parent[i] = parent[i + 1] = static_cast<uint16_t>(j);
  }
  for (int n = NODE_COUNT; n < FREQ_SIZE; n++) freq[n] = 0xFFFF;  // the sentinel, and room to read past it
  parent[ROOT] = 0;
  memset(run_hint, 0, sizeof run_hint);
}

// Halves every leaf weight and builds the tree afresh from the leaves in
// their present order; a new inner node goes after all nodes of its weight.
void HuffmanTree::Rebuild() {
  int j = 0;
  for (int i = 0; i < NODE_COUNT; i++) {
    if (child[i] >= NODE_COUNT) {
      freq[j] = static_cast<uint16_t>((freq[i] + 1) / 2);
      child[j] = child[i];
      j++;
    }
  }
  for (int i = 0, j = SYMBOL_COUNT; j < NODE_COUNT; i += 2, j++) {
    unsigned f = freq[i] + freq[i + 1];
    int k = j - 1;
    while (f < freq[k]) k--;
    k++;
    memmove(&freq[k + 1], &freq[k], (j - k) * sizeof freq[0]);
    memmove(&child[k + 1], &child[k], (j - k) * sizeof child[0]);
    freq[k] = static_cast<uint16_t>(f);
    child[k] = static_cast<uint16_t>(i);
  }
  for (int n = 0; n < NODE_COUNT; n++) {
    int c = child[n];
    parent[c] = static_cast<uint16_t>(n);
    if (c < NODE_COUNT) parent[c + 1] = static_cast<uint16_t>(n);
  }
}

// The first position from j on whose weight is k or more; the sentinel
// stops the search. Most runs are short, but a tree fresh from Start has
// runs of hundreds, and they are what a short stream spends its time on.
#if defined(__SSE2__)
static inline unsigned FindWeight(const uint16_t* freq, unsigned j, unsigned k) {
  // Eight weights a step: k saturates to zero less a weight of k or more.
  const __m128i key = _mm_set1_epi16(static_cast<short>(k));
  for (;; j += 8) {
    __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(freq + j));
    __m128i heavy = _mm_cmpeq_epi16(_mm_subs_epu16(key, weights), _mm_setzero_si128());
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(heavy));
    if (mask != 0) return j + __builtin_ctz(mask) / 2;
  }
}
#else
static inline unsigned FindWeight(const uint16_t* freq, unsigned j, unsigned k) {
  // One at a time: the guess in CountUpFrom spares most long runs.
  while (freq[j] < k) j++;
  return j;
}
#endif

// Counts one more occurrence on the path from node c to the root, moving
// each node that outgrows its right neighbour to the end of the run of
// nodes of its old weight.
void HuffmanTree::CountUpFrom(unsigned c) {
  do {
    unsigned k = ++freq[c];
    if (k > freq[c + 1]) {
      // Where the run ended the last time a node left it, if that still
      // holds: the node there weighs k - 1 and the next one more. (A guess
      // is always a position below the root's.)
      unsigned w = k - 1;
      unsigned l = run_hint[w & 0xFF];
      if ((l <= c) | (freq[l] != w) | (freq[l + 1] < k)) l = FindWeight(freq, c + 2, k) - 1;
      run_hint[w & 0xFF] = static_cast<uint16_t>(l - 1);
      freq[c] = freq[l];
      freq[l] = static_cast<uint16_t>(k);
      // The second child's parent link, or for a leaf the spare slot: no
      // branch on what is as good as random.
      unsigned i = child[c];
      parent[i] = static_cast<uint16_t>(l);
      parent[i < NODE_COUNT ? i + 1 : PARENT_SPARE] = static_cast<uint16_t>(l);
      unsigned j = child[l];
      child[l] = static_cast<uint16_t>(i);
      parent[j] = static_cast<uint16_t>(c);
      parent[j < NODE_COUNT ? j + 1 : PARENT_SPARE] = static_cast<uint16_t>(c);
      child[c] = static_cast<uint16_t>(j);
      c = l;
    }
    c = parent[c];
  } while (c != 0);
}

void HuffmanTree::Update(int symbol) {
  if (freq[ROOT] == FREQ_LIMIT) Rebuild();
  CountUpFrom(parent[NODE_COUNT + symbol]);
}

// Update for the symbol whose leaf ends the given walk from the root
// (path[0] the root's child, path[depth - 1] the leaf). Until the first
// node moves, the walk's nodes are the parents in turn, so they can be
// counted without waiting for each parent link; from a move on, the links
// lead.
inline void HuffmanTree::UpdateAlongPath(const uint16_t* path, int depth, int symbol) {
  if (freq[ROOT] == FREQ_LIMIT) {
    Update(symbol);
    return;
  }
  for (int i = depth - 1; i >= 0; i--) {
    unsigned c = path[i];
    unsigned k = freq[c] + 1u;
    if (k > freq[c + 1]) {
      CountUpFrom(c);
      return;
    }
    freq[c] = static_cast<uint16_t>(k);
  }
  freq[ROOT]++;
}

void BitWriter::Drain() {
  if (used != 0 && !refused && sink(context, block, used) != 0) refused = true;
  used = 0;
}

inline void BitWriter::PutBits(unsigned bit_count, uint32_t bits) {
  buffer |= bits >> count;
  count += bit_count;
  while (count >= 8) {
    PutByte(static_cast<int>(buffer >> 24));
    buffer <<= 8;
    count -= 8;
    coded_size++;
  }
}

void BitWriter::FlushBits() {
  if (count != 0) {
    PutByte(static_cast<int>(buffer >> 24));
    coded_size++;
  }
}

void SymbolEncoder::Start() {
  tree.Start();
  writer.buffer = 0;
  writer.count = 0;
}

void SymbolDecoder::Start() {
  tree.Start();
  reader.buffer = 0;
  reader.count = 0;
  reader.missing = 0;
}

// Writes the symbol's code whole, however deep its leaf: the first bit is
// that of the root's child, the last that of the leaf.
void SymbolEncoder::EncodeSymbol(int symbol) {
  uint32_t code = 0;
  unsigned length = 0;
  unsigned k = tree.parent[NODE_COUNT + symbol];
  do {
    code = (code >> 1) | ((k & 1u) << 31);
    length++;
    k = tree.parent[k];
  } while (k != ROOT);
  if (length <= 24) {
    writer.PutBits(length, code);
  } else {
    writer.PutBits(16, code & 0xFFFF0000u);
    writer.PutBits(length - 16, code << 16);
  }
  tree.Update(symbol);
}

void SymbolEncoder::EncodePosition(unsigned position) {
  unsigned high = position >> 6;
  uint32_t bits = (static_cast<uint32_t>(position_code[high]) << 24) |
                  ((position & 0x3Fu) << (26 - position_code_length[high]));
  writer.PutBits(position_code_length[high] + 6u, bits);
}

// Unread bits are held left-aligned in a word. FillTo refills a byte at a
// time whenever the reader holds fewer than wanted bits, as a 16-bit
// register would; the end of the input reads as zero bytes, and is not read
// again once met.
inline void BitReader::FillTo(unsigned wanted) {
  while (count < wanted) {
    int byte = missing != 0 ? EOF : ReadByte(stream);
    if (byte == EOF) {
      byte = 0;
      missing++;
    }
    buffer |= static_cast<Word>(byte) << (BITS - 8 - count);
    count += 8;
  }
}

// As many whole bytes as the word has room for, in one load: the caller
// makes sure the source's buffer holds a word. The bits after them are the
// next byte's own, which a later FillTo ORs in again unchanged. Once
// FillTo reads a byte, the two readers hold the same again.
inline void BitReader::FillWord() {
  const uint8_t* next = stream->next;
  Word word = LoadOrdered<Word>(next);
  buffer |= word >> count;
  unsigned filled = count | (BITS - 8);  // count plus the whole bytes that fit
  stream->next = next + (filled - count) / 8;
  count = filled;
}

int BitReader::GetByte() {
  FillTo(9);
  int byte = static_cast<int>(buffer >> (BITS - 8));
  buffer <<= 8;
  count -= 8;
  return byte;
}

int SymbolDecoder::DecodeSymbol() {
  // The bit buffer stays in registers for the walk down the tree. A word
  // is loaded first while the source's buffer holds one; the refill one
  // byte at a time is the rare path, near the ends of the source's buffers.
  if (reader.stream->end - reader.stream->next >= static_cast<ptrdiff_t>(sizeof(BitReader::Word))) reader.FillWord();
  BitReader::Word buffer = reader.buffer;
  unsigned count = reader.count;
  uint16_t path[64];
  int depth = 0;
  unsigned c = tree.child[ROOT];
  for (;;) {
    if (__builtin_expect(count <= 8, 0)) {
      reader.buffer = buffer;
      reader.count = count;
      reader.FillTo(9);
      buffer = reader.buffer;
      count = reader.count;
    }
    c += static_cast<unsigned>(buffer >> (BitReader::BITS - 1));
    buffer <<= 1;
    count--;
    path[depth & 63] = static_cast<uint16_t>(c);
    depth++;
    c = tree.child[c];
    if (c >= NODE_COUNT) break;
  }
  reader.buffer = buffer;
  reader.count = count;
  int symbol = static_cast<int>(c) - NODE_COUNT;
  if (depth <= 64) {
    tree.UpdateAlongPath(path, depth, symbol);
  } else {
    tree.Update(symbol);
  }
  return symbol;
}

unsigned SymbolDecoder::DecodePosition() {
  unsigned b = static_cast<unsigned>(reader.GetByte());
  unsigned high = position_decode_high[b];
  unsigned n = position_decode_length[b] - 2u;
  // The n remaining low bits in one step. Refilling until n + 8 bits are
  // held takes exactly the bytes that n single-bit reads would have taken:
  // both keep at least 8 bits after the last bit used.
  reader.FillTo(n + 8);
  unsigned rest = static_cast<unsigned>(reader.buffer >> (BitReader::BITS - n));
  reader.buffer <<= n;
  reader.count -= n;
  return (high << 6) | (((b << n) | rest) & 0x3F);
}

}  // namespace codec
