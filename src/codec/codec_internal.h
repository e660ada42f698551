// The codec's layers as objects: the adaptive Huffman tree with the bit
// writer and reader, the match finder, and the stages and decoder built of
// them. Everything here binds the coded format; each object serves one
// stream at a time, and any number of them may live side by side.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "codec/byteio.h"
#include "codec/encoder.h"

namespace codec {

const int WINDOW_SIZE = 4096;
const int MAX_MATCH = 60;
const int MATCH_THRESHOLD = 2;
const int SYMBOL_COUNT = 256 - MATCH_THRESHOLD + MAX_MATCH;  // 314
const int NODE_COUNT = 2 * SYMBOL_COUNT - 1;                  // 627
const int ROOT = NODE_COUNT - 1;                              // 626
const unsigned FREQ_LIMIT = 0x8000;
// The first data byte's window position; the positions before it hold spaces.
const int START_POSITION = WINDOW_SIZE - MAX_MATCH;  // 4036
const int RING_SIZE = WINDOW_SIZE + MAX_MATCH - 1;   // 4155, with the mirror
const int NO_NODE = WINDOW_SIZE;
// The carried bytes are the ring's last ones, from the first data byte's
// position on; a decoder keeps no mirror and carries only the window's part.
static_assert(START_POSITION + CARRY_SIZE == RING_SIZE, "the carry is the ring's tail");
const int DECODER_CARRY_SIZE = MAX_MATCH;

// sizeof(T) bytes as one number whose most significant byte comes first,
// so that numbers compare as the strings do and bits come out in stream
// order.
template <typename T>
inline T LoadOrdered(const uint8_t* bytes) {
  T word;
  memcpy(&word, bytes, sizeof word);
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__
  if constexpr (sizeof word == 8) {
    word = static_cast<T>(__builtin_bswap64(word));
  } else {
    word = static_cast<T>(__builtin_bswap32(static_cast<uint32_t>(word)));
  }
#endif
  return word;
}

// Prefix code of a match position's upper 6 bits: its length, and the code
// left-aligned in a byte; the decode tables give, for every byte, the value
// and length of the code it starts with.
extern const std::array<uint8_t, 64> position_code_length;
extern const std::array<uint8_t, 64> position_code;
extern const std::array<uint8_t, 256> position_decode_high;
extern const std::array<uint8_t, 256> position_decode_length;

// Adaptive Huffman tree: node weights sorted by position, first-child links
// (627 + symbol for a leaf), parents of nodes and, from 627 on, leaf
// positions of symbols. Past the root's weight, the sentinel 0xFFFF ends
// every search for a heavier node, and 7 more let a search read 8 at once.
const int FREQ_SIZE = NODE_COUNT + 8;
const int PARENT_SPARE = NODE_COUNT + SYMBOL_COUNT;
struct HuffmanTree {
  uint16_t freq[FREQ_SIZE];
  uint16_t child[NODE_COUNT];
  uint16_t parent[NODE_COUNT + SYMBOL_COUNT + 1];  // and a spare slot
  // For weights by their low byte: the position where a run of that weight
  // ended when a node last left it. A guess, checked before it is used:
  // the runs of a fresh tree are hundreds long.
  uint16_t run_hint[256];

  void Start();
  void Rebuild();
  void Update(int symbol);
  // Update for the symbol whose leaf ends the walk path[0..depth - 1].
  void UpdateAlongPath(const uint16_t* path, int depth, int symbol);
  void CountUpFrom(unsigned c);
};

// Bytes of the coded stream gather in a block that goes to the sink
// whenever it is full, and at the end.
const size_t OUTPUT_BLOCK = 1 << 16;

struct BitWriter {
  uint32_t buffer;      // pending bits, left-aligned; fewer than 8 between calls
  unsigned count;
  uint32_t coded_size;  // bytes of the bit stream written
  size_t used;          // bytes waiting in block
  bool refused;         // the sink refused a block
  ByteSink sink;
  void* context;
  uint8_t block[OUTPUT_BLOCK];

  void PutByte(int byte) {
    block[used++] = static_cast<uint8_t>(byte);
    if (used == OUTPUT_BLOCK) Drain();
  }
  void Drain();
  // Appends count bits (at most 24), left-aligned in a 32-bit word.
  void PutBits(unsigned count, uint32_t bits);
  void FlushBits();
};

// The bit reader. missing counts the bytes the input failed to deliver and
// that the reader took as zeros; once the input ends it is not read again.
// The format ends a stream where a reader that refills a byte at a time,
// whenever it holds 8 bits or fewer, stops taking bytes: FillTo is that
// reader. FillWord takes a whole word at once while the source's buffer
// holds one, and GiveBack returns what it took beyond that reader.
struct BitReader {
  typedef uintptr_t Word;
  static constexpr unsigned BITS = 8 * sizeof(Word);
  Word buffer;  // unread bits, left-aligned
  unsigned count;
  uint64_t missing;
  ByteSource* stream;

  void FillTo(unsigned wanted);
  void FillWord();
  // After a whole item a byte-at-a-time reader holds 8 to 15 bits, as many
  // modulo 8 as this one: the whole bytes beyond those came from the
  // source's buffer through FillWord and go back to it, so that the stream
  // ends where the format says. Once the input has ended nothing is held
  // beyond. The reader is done with its stream then.
  void GiveBack() {
    if (missing == 0 && count >= 16) stream->next -= count / 8 - 1;
  }
  int GetByte();
  // True once the decoder has used a bit the input never held: the stream
  // was cut off inside its bit stream, beyond the one byte of read-ahead.
  bool ReadPastEnd() const { return missing != 0 && 8 * missing > count; }
};

struct SymbolEncoder {
  HuffmanTree tree;
  BitWriter writer;

  void Start();  // the initial tree, no pending bits
  void EncodeSymbol(int symbol);
  void EncodePosition(unsigned position);
};

struct SymbolDecoder {
  HuffmanTree tree;
  BitReader reader;

  void Start();  // the initial tree, no bits held
  int DecodeSymbol();
  unsigned DecodePosition();
};

// Match finder: the window with a mirror of its first 59 bytes, and 256
// binary trees over window positions, one per first byte.
struct MatchFinder {
  uint8_t ring[RING_SIZE];
  // A node's lower (0) and higher (1) child side by side: a step down
  // reads both. A root has only its higher link.
  int32_t link[WINDOW_SIZE + 257][2];
  int32_t tree_parent[WINDOW_SIZE + 1];
  int32_t match_length;
  uint16_t match_position;

  void Reset();
  void Insert(int r);
  void Delete(int p);
  // Insertions whose match nobody asks for: inside a match the compressor
  // needs only the match of the position that the next item starts at.
  // InsertWithoutMatch leaves match_length and match_position alone.
  void InsertWithoutMatch(int r);
  // Whether ra and ra + 1 can be inserted in one go, with the deletion of sb
  // (ra + 60, the oldest position, overwritten before ra + 1 is inserted)
  // moved before the insertion of ra: when ra and ra + 1 begin with
  // different bytes and sb is not in ra's tree, the three touch different
  // trees and read no byte the others change, so their order does not matter.
  bool CanInsertTogether(int ra, int sb) const {
    int rb = (ra + 1) & (WINDOW_SIZE - 1);
    return ring[ra] != ring[rb] && (tree_parent[sb] == NO_NODE || ring[sb] != ring[ra]);
  }
  // Inserts first, first - 1, ... last into an empty tree as a chain, each
  // below the one before it on the left (leftward) or on the right, as
  // Insert would place strings that each compare lower (or higher) than
  // all before them.
  void InsertChain(int first, int last, bool leftward);
  // Inserts ra and then rb = ra + 1 as InsertWithoutMatch and, with
  // match_second, Insert would; both walks advance side by side.
  void InsertTogether(int ra, int rb, bool match_second);
};

// The carry after a stream of size bytes whose last min(size, 4096) bytes
// are tail, for the first limit carried bytes.
void AdvanceCarryPart(WindowCarry* carry, const uint8_t* tail, uint64_t size, int limit);

}  // namespace codec

// The LZSS loop over the match finder, resumable between token blocks.
struct MatchStage {
  codec::MatchFinder finder;
  ByteSource* input;
  uint32_t left;     // bytes it may still read: never more than the size
  bool input_short;  // the input ended before its size
  int s;             // the oldest position, overwritten next
  int r;             // the current position
  int len;           // look-ahead bytes not yet coded

  int ReadInput();
};

struct CoderStage {
  codec::SymbolEncoder symbols;
};

struct Encoder {
  MatchStage match;
  CoderStage coder;
  TokenBlock tokens;
};

// Decodes one stream in a straight buffer rather than in the ring: the 4096
// bytes before the write position are the window, matches copy from it
// with plain pointers, and full blocks go to the sink in one call.
struct Decoder {
  static constexpr size_t BLOCK_SIZE = 65536;
  codec::SymbolDecoder symbols;
  ByteSink sink;     // null: the bytes go nowhere
  void* context;
  uint32_t size;     // from the size header
  uint64_t count;    // bytes decoded; a damaged stream's last match may overrun
  uint64_t handed;   // bytes given to the sink
  uint8_t* out;      // the next byte's place in history
  bool stop_when_cut;
  bool truncated;
  bool refused;      // the sink refused a block
  bool used_carry;   // a match copied carried bytes
  uint8_t history[codec::WINDOW_SIZE + BLOCK_SIZE + 2 * codec::MAX_MATCH];

  // Starts decoding size bytes from input (after its size header) into the
  // sink, in a window whose carried bytes are carry. With stop_when_cut, an
  // input that ends inside the bit stream stops decoding before the first
  // item built from bits the input never held.
  void Start(ByteSource* input, ByteSink sink, void* context, uint32_t size, const WindowCarry& carry,
             bool stop_when_cut);
  // Decodes up to one block and hands it on; false once the stream is done.
  bool Step();
  // The carried bytes the window holds after the stream.
  void KeepCarry(WindowCarry* carry) const;
};

// Decodes one coded stream, size header to end mark: DECODE_OK,
// DECODE_BAD_END_MARK, DECODE_TRUNCATED (with stop_when_cut),
// DECODE_WRITE_FAILED, or DECODE_NO_HEADER when the input ends inside the
// size header. *size is the size header's, *decoded what the sink was given.
const int DECODE_NO_HEADER = 5;
int DecodeStream(Decoder* decoder, ByteSource* input, ByteSink sink, void* context, WindowCarry* carry,
                 bool stop_when_cut, uint32_t* size, uint64_t* decoded);
