// Adaptive Huffman coder over 314 symbols, the fixed position code, and the
// bit writer and reader that pack them most significant bit first.
#include <cstring>

#include "codec/byteio.h"
#include "codec/codec_internal.h"

namespace codec {

uint16_t freq[NODE_COUNT + 1];
uint16_t child[NODE_COUNT];
uint16_t parent[NODE_COUNT + SYMBOL_COUNT];
uint32_t coded_size;

// Pending output bits, left-aligned in 32 bits; fewer than 8 between calls.
static uint32_t put_buffer;
static unsigned put_count;

// Unread input bits, left-aligned in 32 bits. The reader refills a byte at a
// time whenever it holds 8 bits or fewer, as a 16-bit register would, so it
// takes exactly the same bytes from the input.
uint32_t get_buffer;
unsigned get_count;
uint64_t get_missing;

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

void StartCoder() {
  put_buffer = 0;
  put_count = 0;
  get_buffer = 0;
  get_count = 0;
  get_missing = 0;
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
  freq[NODE_COUNT] = 0xFFFF;
  parent[ROOT] = 0;
}

// Halves every leaf weight and builds the tree afresh from the leaves in
// their present order; a new inner node goes after all nodes of its weight.
void RebuildTree() {
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

// Counts one more occurrence on the path from node c to the root, moving
// each node that outgrows its right neighbour to the end of the run of
// nodes of its old weight.
static void CountUpFrom(unsigned c) {
  do {
    unsigned k = ++freq[c];
    if (k > freq[c + 1]) {
      // The weights above c are sorted and the sentinel ends them, so the
      // run of weight k - 1 can be measured by galloping and bisection
      // instead of one step at a time; runs of a hundred are common.
      unsigned l = c + 1;
      if (freq[l + 1] < k) {
        unsigned low = l + 1, high, step = 2;
        for (;;) {
          high = low + step;
          if (high >= NODE_COUNT) {
            high = NODE_COUNT;
            break;
          }
          if (freq[high] >= k) break;
          low = high;
          step *= 2;
        }
        while (high - low > 1) {
          unsigned middle = (low + high) / 2;
          if (freq[middle] < k) {
            low = middle;
          } else {
            high = middle;
          }
        }
        l = low;
      }
      freq[c] = freq[l];
      freq[l] = static_cast<uint16_t>(k);
      unsigned i = child[c];
      parent[i] = static_cast<uint16_t>(l);
      if (i < NODE_COUNT) parent[i + 1] = static_cast<uint16_t>(l);
      unsigned j = child[l];
      child[l] = static_cast<uint16_t>(i);
      parent[j] = static_cast<uint16_t>(c);
      if (j < NODE_COUNT) parent[j + 1] = static_cast<uint16_t>(c);
      child[c] = static_cast<uint16_t>(j);
      c = l;
    }
    c = parent[c];
  } while (c != 0);
}

void UpdateTree(int symbol) {
  if (freq[ROOT] == FREQ_LIMIT) RebuildTree();
  CountUpFrom(parent[NODE_COUNT + symbol]);
}

// UpdateTree for the symbol whose leaf ends the given walk from the root
// (path[0] the root's child, path[depth - 1] the leaf). Until the first
// node moves, the walk's nodes are the parents in turn, so they can be
// counted without waiting for each parent link; from a move on, the links
// lead.
static inline void UpdateAlongPath(const uint16_t* path, int depth, int symbol) {
  if (freq[ROOT] == FREQ_LIMIT) {
    UpdateTree(symbol);
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

// Appends count bits (at most 24), left-aligned in a 32-bit word.
static inline void PutBitsWide(unsigned count, uint32_t bits) {
  put_buffer |= bits >> put_count;
  put_count += count;
  while (put_count >= 8) {
    WriteByte(static_cast<int>(put_buffer >> 24), output_stream);
    put_buffer <<= 8;
    put_count -= 8;
    coded_size++;
  }
}

void PutBits(int count, unsigned bits) { PutBitsWide(static_cast<unsigned>(count), bits << 16); }

void FlushBits() {
  if (put_count != 0) {
    WriteByte(static_cast<int>(put_buffer >> 24), output_stream);
    coded_size++;
  }
}

// Writes the symbol's code whole, however deep its leaf: the first bit is
// that of the root's child, the last that of the leaf.
void EncodeSymbol(int symbol) {
  uint32_t code = 0;
  unsigned length = 0;
  unsigned k = parent[NODE_COUNT + symbol];
  do {
    code = (code >> 1) | ((k & 1u) << 31);
    length++;
    k = parent[k];
  } while (k != ROOT);
  if (length <= 24) {
    PutBitsWide(length, code);
  } else {
    PutBitsWide(16, code & 0xFFFF0000u);
    PutBitsWide(length - 16, code << 16);
  }
  UpdateTree(symbol);
}

void EncodePosition(unsigned position) {
  unsigned high = position >> 6;
  uint32_t bits = (static_cast<uint32_t>(position_code[high]) << 24) |
                  ((position & 0x3Fu) << (26 - position_code_length[high]));
  PutBitsWide(position_code_length[high] + 6u, bits);
}

// Reads whole bytes until at least wanted bits are held; the end of the
// input reads as zero bytes, and is not read again once met.
static inline void FillBitsTo(unsigned wanted) {
  while (get_count < wanted) {
    int byte = get_missing != 0 ? EOF : ReadByte(input_stream);
    if (byte == EOF) {
      byte = 0;
      get_missing++;
    }
    get_buffer |= static_cast<uint32_t>(byte) << (24 - get_count);
    get_count += 8;
  }
}

static inline void FillBits() { FillBitsTo(9); }

static inline int NextBit() {
  FillBits();
  int bit = static_cast<int>(get_buffer >> 31);
  get_buffer <<= 1;
  get_count--;
  return bit;
}

int GetBit() { return NextBit(); }

int GetByte() {
  FillBits();
  int byte = static_cast<int>(get_buffer >> 24);
  get_buffer <<= 8;
  get_count -= 8;
  return byte;
}

int DecodeSymbol() {
  // The bit buffer stays in registers for the walk down the tree; the
  // refill, one byte at a time as in NextBit, is the rare path.
  uint32_t buffer = get_buffer;
  unsigned count = get_count;
  uint16_t path[64];
  int depth = 0;
  unsigned c = child[ROOT];
  for (;;) {
    if (count <= 8) {
      get_buffer = buffer;
      get_count = count;
      FillBits();
      buffer = get_buffer;
      count = get_count;
    }
    c += buffer >> 31;
    buffer <<= 1;
    count--;
    path[depth & 63] = static_cast<uint16_t>(c);
    depth++;
    c = child[c];
    if (c >= NODE_COUNT) break;
  }
  get_buffer = buffer;
  get_count = count;
  int symbol = static_cast<int>(c) - NODE_COUNT;
  if (depth <= 64) {
    UpdateAlongPath(path, depth, symbol);
  } else {
    UpdateTree(symbol);
  }
  return symbol;
}

unsigned DecodePosition() {
  unsigned b = static_cast<unsigned>(GetByte());
  unsigned high = position_decode_high[b];
  unsigned n = position_decode_length[b] - 2u;
  // The n remaining low bits in one step. Refilling until n + 8 bits are
  // held takes exactly the bytes that n single-bit reads would have taken:
  // both keep at least 8 bits after the last bit used.
  FillBitsTo(n + 8);
  unsigned rest = get_buffer >> (32 - n);
  get_buffer <<= n;
  get_count -= n;
  return (high << 6) | (((b << n) | rest) & 0x3F);
}

}  // namespace codec
