// The codec's layers and their process-wide state: the adaptive Huffman
// coder with its bit streams, the match finder, and the streams they share.
// Everything here binds the coded format; one stream at a time.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

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

// Streams of the current compression or decompression.
extern FILE* input_stream;
extern FILE* output_stream;

// Adaptive Huffman tree: node weights sorted by position, first-child links
// (627 + symbol for a leaf), parents of nodes and, from 627 on, leaf
// positions of symbols.
extern uint16_t freq[NODE_COUNT + 1];
extern uint16_t child[NODE_COUNT];
extern uint16_t parent[NODE_COUNT + SYMBOL_COUNT];

// Bytes of the bit stream written by the current compression.
extern uint32_t coded_size;

// Bit reader. get_missing counts the bytes the input failed to deliver and
// that the reader took as zeros; once the input ends it is not read again.
extern uint32_t get_buffer;
extern unsigned get_count;
extern uint64_t get_missing;

// Prefix code of a match position's upper 6 bits: its length, and the code
// left-aligned in a byte; the decode tables give, for every byte, the value
// and length of the code it starts with.
extern const std::array<uint8_t, 64> position_code_length;
extern const std::array<uint8_t, 64> position_code;
extern const std::array<uint8_t, 256> position_decode_high;
extern const std::array<uint8_t, 256> position_decode_length;

void StartCoder();
void EncodeSymbol(int symbol);
void EncodePosition(unsigned position);
void FlushBits();
int DecodeSymbol();
unsigned DecodePosition();
void UpdateTree(int symbol);
void RebuildTree();
// Writes count (1 to 16) bits, left-aligned in a 16-bit word.
void PutBits(int count, unsigned bits);
int GetBit();
int GetByte();

// True once the decoder has used a bit the input never held: the stream
// was cut off inside its bit stream, beyond the one byte of read-ahead.
inline bool ReadPastEnd() { return get_missing != 0 && 8 * get_missing > get_count; }

// Match finder: the window with a mirror of its first 59 bytes, and 256
// binary trees over window positions, one per first byte.
extern uint8_t ring[RING_SIZE];
extern int32_t tree_left[WINDOW_SIZE + 1];
extern int32_t tree_right[WINDOW_SIZE + 257];
extern int32_t tree_parent[WINDOW_SIZE + 1];
extern int32_t match_length;
extern uint16_t match_position;

void ResetMatchTree();
void InsertPosition(int r);
void DeletePosition(int p);

// Insertions whose match nobody asks for: inside a match the compressor
// needs only the match of the position that the next item starts at.
// InsertWithoutMatch leaves match_length and match_position alone.
void InsertWithoutMatch(int r);
// Whether ra and ra + 1 can be inserted in one go, with the deletion of sb
// (ra + 60, the oldest position, overwritten before ra + 1 is inserted) moved
// before the insertion of ra: when ra and ra + 1 begin with different bytes
// and sb is not in ra's tree, the three touch different trees and read no
// byte the others change, so their order does not matter.
inline bool CanInsertTogether(int ra, int sb) {
  int rb = (ra + 1) & (WINDOW_SIZE - 1);
  return ring[ra] != ring[rb] && (tree_parent[sb] == NO_NODE || ring[sb] != ring[ra]);
}
// Inserts ra and then rb = ra + 1 as InsertWithoutMatch and, with
// match_second, InsertPosition would; both walks advance side by side.
void InsertTogether(int ra, int rb, bool match_second);

}  // namespace codec
