// The compressor as objects, for callers that run many streams or spread
// one over two threads: a match stage that decides the items (tokens) and a
// coder stage that codes them. The match stage alone decides the tokens, so
// whoever codes them, whenever, the bytes are the same.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/codec.h"

// A run of items as the match stage decided them: a literal byte (0 to 255)
// or a match symbol (256 to 313) with its position in the upper 16 bits.
const int TOKEN_BLOCK_SIZE = 4096;
struct TokenBlock {
  int count;
  uint32_t tokens[TOKEN_BLOCK_SIZE];
};

struct MatchStage;
struct CoderStage;
struct Encoder;  // both stages and a token block, for one thread

// As NewDecoder; the stages hold about 60 KiB and 70 KiB.
MatchStage* NewMatchStage(Allocator allocate);
CoderStage* NewCoderStage(Allocator allocate);
Encoder* NewEncoder(Allocator allocate);

// The size header of a coded stream.
void MakeSizeHeader(uint32_t size, uint8_t header[4]);

// Starts on the size bytes of input, from its first byte, in a window whose
// carried bytes are carry. Reads no more than size bytes; an input that
// ends sooner is completed with zero bytes, unless it is abandoned.
void StartMatching(MatchStage* stage, ByteSource* input, uint32_t size, const WindowCarry& carry);
// Fills block with the next items; false once the input is done (the block
// then holds the last items, possibly none).
bool FindTokens(MatchStage* stage, TokenBlock* block);
// After the last block: true when the input ended before its size.
bool InputCameShort(const MatchStage* stage);
// The carried bytes that the stage's window holds now.
void KeepCarry(const MatchStage* stage, WindowCarry* carry);

// Starts a bit stream for sink (the size header is the caller's). The sink
// gets the coded bytes in blocks of 64 KiB and at the end; once it has
// refused, it gets nothing more.
void StartCoding(CoderStage* stage, ByteSink sink, void* context);
void CodeTokens(CoderStage* stage, const TokenBlock* block);
// Writes the last bits and the end mark, hands everything to the sink, and
// returns the size of the bit stream.
uint32_t FinishCoding(CoderStage* stage);
// Whether the sink refused any of it.
bool SinkRefused(const CoderStage* stage);

// Both stages on one thread: the bit stream of size bytes of input and the
// end mark go to sink, *carry is advanced, *coded_size is the bit stream's
// size. COMPRESS_OK, COMPRESS_SHORT_INPUT or COMPRESS_WRITE_FAILED.
int EncodeStream(Encoder* encoder, ByteSource* input, uint32_t size, WindowCarry* carry, ByteSink sink,
                 void* context, uint32_t* coded_size);
