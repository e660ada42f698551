// Decoding ahead. A member's coded length is stored nowhere, so only
// decoding a member finds the next one. While the calling thread decodes
// the start of each block of the archive it has read, another thread
// guesses where a member begins from two fifths of it on (the end mark
// 00 FF and a record that fits the format after it), decodes from there
// to the block's end, one member after another, and keeps what it decoded.
// Where it may read the archive itself, it goes on with the block after the
// caller's while the caller is still busy with its own. The
// caller takes a member from it only where its own reading arrives at
// exactly that member's first byte: decoding is the same from the same
// bytes, so a wrong guess is never used, only wasted. A member whose stream
// copies carried bytes, or that runs past the block, is left to the caller.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/fsops.h"

struct Lookahead;

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
// block_size: the size of the blocks the caller reads.
Lookahead* StartLookahead(size_t block_size);
void FinishLookahead(Lookahead* lookahead);
// Lets the thread read the next block of the archive in file (open until
// FinishLookahead) before the caller offers it. A read that fails there
// only ends the reading ahead: the caller meets the failure itself.
void ReadAheadFrom(Lookahead* lookahead, FileHandle file);
// The caller has read size bytes at offset of the archive (the next block).
void OfferBlock(Lookahead* lookahead, int64_t offset, const uint8_t* bytes, size_t size);
// The member whose stream begins at start, if it was decoded ahead; those
// before start are dropped. Freed with FreeAheadMember.
AheadMember* TakeAheadMember(Lookahead* lookahead, int64_t start);
void FreeAheadMember(Lookahead* lookahead, AheadMember* member);
