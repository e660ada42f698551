// Decoding ahead. A member's coded length is stored nowhere, so only
// decoding a member finds the next one. While the calling thread decodes
// the start of each block of the archive it has read, another thread
// guesses where a member begins from two fifths of it on (the end mark
// 00 FF and a record that fits the format after it), decodes from there
// to the block's end, one member after another, and keeps what it decoded.
// Where it has a handle of its own on the archive, it goes on with the
// block after the caller's while the caller is still busy with its own.
// The caller takes a member from it only where its own reading arrives at
// exactly that member's first byte: decoding is the same from the same
// bytes, so a wrong guess is never used, only wasted. A member whose stream
// copies carried bytes, or that runs past the block, is left to the caller.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive.h"
#include "os/fsops.h"

struct Lookahead;

// Decoded bytes kept for the caller, members' headers included: the size of
// the ring that holds them.
const size_t AHEAD_HELD_LIMIT = size_t{4} << 20;
const size_t NO_STREAM = ~size_t{0};

// A member decoded ahead: its stream began at start (the size header) and
// ended before end, in the archive; size bytes at data.
struct AheadMember {
  AheadMember* next;
  int64_t start;
  int64_t end;
  uint64_t size;
  uint8_t* data;
};

// Null where no thread or no memory can be had: the caller decodes alone.
// block_size: the size of the blocks the caller reads. stats, when not
// null, is counted in until FinishLookahead.
Lookahead* StartLookahead(size_t block_size, AheadStats* stats);
void FinishLookahead(Lookahead* lookahead);
// Lets the thread read the next block of the archive through file, a handle
// of its own (open until FinishLookahead), before the caller offers it. A
// read that fails there only ends the reading ahead: the caller meets any
// real failure on its own reads.
void ReadAheadFrom(Lookahead* lookahead, FileHandle file);
// The caller has read size bytes at offset of the archive (the next block).
void OfferBlock(Lookahead* lookahead, int64_t offset, const uint8_t* bytes, size_t size);
// The member whose stream begins at start, if it was decoded ahead; those
// before start are dropped. Given back with FreeAheadMember before the next.
AheadMember* TakeAheadMember(Lookahead* lookahead, int64_t start);
void FreeAheadMember(Lookahead* lookahead, AheadMember* member);

// Where the guess puts the first member's stream (its size header) after an
// end mark at or after from in the block: NO_STREAM where none fits.
size_t GuessStream(const uint8_t* bytes, size_t size, size_t from);
