// The thread that decodes ahead (the Linux build's; lookahead_win32.cpp
// says why Windows has none). It works on its own copy of a block: the one
// the caller read last, or the one after it, read here. It keeps at most one
// block beyond the caller's, and drops what it has of a block once the
// caller reads past it. What it keeps is bounded, and so is the size of a
// member it decodes.
#include "archive/lookahead.h"

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/archive.h"
#include "codec/codec.h"
#include "os/dirscan.h"
#include "os/memory.h"
#include "os/threads.h"

namespace {

const size_t HELD_LIMIT = size_t{4} << 20;  // decoded bytes kept for the caller
const uint32_t MEMBER_LIMIT = 1 << 20;      // larger members are left to the caller
const size_t NONE = ~size_t{0};
const unsigned ATTRIBUTE_BITS = 0x37;  // read-only, hidden, system, directory, archive

// Where the stream of the first file member of the records at at begins:
// end marks, directory records and a file record that the format allows,
// all within size. NONE where they do not fit.
size_t StreamAfterRecords(const uint8_t* bytes, size_t size, size_t at) {
  for (int records = 0; records < 64; records++) {
    if (at + 2 > size) return NONE;
    unsigned word = bytes[at] | (bytes[at + 1] << 8);
    at += 2;
    if (word == END_OF_LEVEL) continue;
    if (word & ~ATTRIBUTE_BITS) return NONE;
    size_t name = at;
    // A name of the platform's characters, no control codes.
    while (at < size && bytes[at] >= 0x20 && at - name < 259) at++;
    if (at >= size || bytes[at] != 0 || at == name) return NONE;
    at++;
    if (!(word & ATTR_DIRECTORY)) return at + 4 <= size ? at : NONE;
  }
  return NONE;
}

uint32_t SizeHeader(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// The first stream after an end mark 00 FF at or after from that a record
// fits behind.
size_t GuessStream(const uint8_t* bytes, size_t size, size_t from) {
  for (size_t at = from < 1 ? 1 : from; at < size;) {
    const void* mark = memchr(bytes + at, 0xFF, size - at);
    if (!mark) return NONE;
    size_t end_mark = static_cast<size_t>(static_cast<const uint8_t*>(mark) - bytes);
    at = end_mark + 1;
    if (bytes[end_mark - 1] != 0) continue;
    size_t stream = StreamAfterRecords(bytes, size, at);
    if (stream != NONE && SizeHeader(bytes + stream) <= MEMBER_LIMIT) return stream;
  }
  return NONE;
}

// A source over the block whose end is not the archive's: running past it
// spoils the member.
struct BlockSource {
  ByteSource source;
  bool ran_out;
};

int RunOut(ByteSource* source) {
  reinterpret_cast<BlockSource*>(source)->ran_out = true;
  return EOF;
}

struct Filling {
  AheadMember* member;
  uint64_t room;
};

int FillMember(void* context, const uint8_t* bytes, size_t size) {
  Filling* filling = static_cast<Filling*>(context);
  if (size > filling->room - filling->member->size) return 1;
  memcpy(filling->member->data + filling->member->size, bytes, size);
  filling->member->size += size;
  return 0;
}

}  // namespace

struct Lookahead {
  Lock lock;
  Condition changed;  // a block offered, the archive given to read ahead, or closing
  Condition room;     // less held, a block offered, or closing
  bool waits_room;    // the thread waits on room: only then is it woken
  Decoder* decoder;
  size_t capacity;
  uint8_t* incoming;  // the block offered last, not taken yet
  size_t incoming_size;
  int64_t incoming_offset;
  bool offered;
  uint8_t* working;      // the block being decoded ahead
  int64_t passed;        // where the caller's block begins: all before it is passed
  int64_t claimed;       // where the thread's latest block begins (-1: none yet)
  size_t claimed_size;
  int file;              // the archive, for reading ahead; -1: the caller offers every block
  AheadMember* first;    // decoded, in archive order
  AheadMember* last;
  size_t held;  // bytes of those
  bool closing;
  Thread thread;
};

namespace {

// Decodes the member whose stream begins at at: null where it is not whole
// in the block, not sound, or copies carried bytes, and where no memory can
// be had. *end: where its stream ends, NONE where that is not known.
AheadMember* DecodeAhead(Lookahead* ahead, const uint8_t* bytes, size_t size, size_t at, int64_t offset,
                         size_t* end) {
  *end = NONE;
  uint32_t length = SizeHeader(bytes + at);
  // A member that could not end within the block is not tried.
  if (length > MEMBER_LIMIT || length / 16 > size - at) return nullptr;
  AheadMember* member = static_cast<AheadMember*>(AllocateMemory(sizeof(AheadMember) + length));
  if (!member) return nullptr;
  member->next = nullptr;
  member->start = offset + static_cast<int64_t>(at);
  member->size = 0;
  member->data = reinterpret_cast<uint8_t*>(member + 1);
  BlockSource source = {{bytes + at, bytes + size, RunOut, false}, false};
  Filling filling = {member, length};
  WindowCarry carry{};  // unused: a stream that uses it is left to the caller
  uint64_t decoded;
  int result = DecompressMember(ahead->decoder, &source.source, FillMember, &filling, &carry, &decoded);
  if (result == DECODE_OK && !source.ran_out) {
    *end = static_cast<size_t>(source.source.next - bytes);
    member->end = offset + static_cast<int64_t>(*end);
    if (!StreamUsedCarry(ahead->decoder)) return member;
  }
  FreeMemory(member);
  return nullptr;
}

// Hands member to the caller, within the bound: false when the caller has
// read past the block it came from (it is then freed).
bool Keep(Lookahead* ahead, AheadMember* member, int64_t block) {
  Acquire(&ahead->lock);
  ahead->waits_room = true;
  while (ahead->held != 0 && ahead->held + member->size > HELD_LIMIT && ahead->passed <= block &&
         !ahead->closing)
    WaitCondition(&ahead->room, &ahead->lock);
  ahead->waits_room = false;
  bool kept = ahead->passed <= block && !ahead->closing;
  if (kept) {
    (ahead->last ? ahead->last->next : ahead->first) = member;
    ahead->last = member;
    ahead->held += member->size;
  }
  Release(&ahead->lock);
  if (!kept) FreeMemory(member);
  return kept;
}

// Decodes the block from two fifths on, one member after another from a
// guess.
void DecodeBlock(Lookahead* ahead, const uint8_t* bytes, size_t size, int64_t offset) {
  // From two fifths on, not half: the caller also hands every member on,
  // and the two halves ended unevenly.
  size_t at = GuessStream(bytes, size, size / 5 * 2);
  while (at != NONE) {
    size_t end;
    AheadMember* member = DecodeAhead(ahead, bytes, size, at, offset, &end);
    if (member && !Keep(ahead, member, offset)) return;
    if (end == NONE) return;
    at = StreamAfterRecords(bytes, size, end);
  }
}

// Whether the thread may read the block after its latest: that one was
// full, and the caller has come to it.
bool MayReadAhead(const Lookahead* ahead) {
  return ahead->file >= 0 && ahead->claimed >= 0 && ahead->claimed_size == ahead->capacity &&
         ahead->claimed <= ahead->passed;
}

void RunAhead(void* context) {
  Lookahead* ahead = static_cast<Lookahead*>(context);
  Acquire(&ahead->lock);
  for (;;) {
    while (!ahead->offered && !MayReadAhead(ahead) && !ahead->closing)
      WaitCondition(&ahead->changed, &ahead->lock);
    if (ahead->closing) break;
    int64_t offset;
    size_t size;
    if (ahead->offered) {
      uint8_t* block = ahead->incoming;
      ahead->incoming = ahead->working;
      ahead->working = block;
      ahead->offered = false;
      offset = ahead->incoming_offset;
      size = ahead->incoming_size;
    } else {
      // Claimed before it is read, so that the caller does not offer it
      // meanwhile.
      int64_t before = ahead->claimed;
      size_t before_size = ahead->claimed_size;
      offset = before + static_cast<int64_t>(before_size);
      ahead->claimed = offset;
      ahead->claimed_size = 0;
      int file = ahead->file;
      Release(&ahead->lock);
      ssize_t got;
      do {
        got = pread(file, ahead->working, ahead->capacity, offset);
      } while (got < 0 && errno == EINTR);
      Acquire(&ahead->lock);
      if (got <= 0) {
        // Unclaimed again, so that the caller's offer of it is taken.
        ahead->claimed = before;
        ahead->claimed_size = before_size;
        ahead->file = -1;
        continue;
      }
      size = static_cast<size_t>(got);
    }
    ahead->claimed = offset;
    ahead->claimed_size = size;
    Release(&ahead->lock);
    DecodeBlock(ahead, ahead->working, size, offset);
    Acquire(&ahead->lock);
  }
  Release(&ahead->lock);
}

void DropBefore(Lookahead* ahead, int64_t start) {
  while (ahead->first && ahead->first->start < start) {
    AheadMember* member = ahead->first;
    ahead->first = member->next;
    if (!ahead->first) ahead->last = nullptr;
    ahead->held -= member->size;
    FreeMemory(member);
  }
}

}  // namespace

Lookahead* StartLookahead(size_t block_size) {
#if defined(M_TRIM_THRESHOLD) && defined(M_TOP_PAD)
  // The members decoded here come from this thread's own arena and are
  // freed by the caller's: glibc would hand the arena's pages back to the
  // system and fault them in afresh every few members. What is held is
  // bounded anyway.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_TOP_PAD, 4 << 20);
#endif
  Lookahead* ahead = static_cast<Lookahead*>(AllocateMemory(sizeof(Lookahead)));
  if (!ahead) return nullptr;
  memset(static_cast<void*>(ahead), 0, sizeof *ahead);
  ahead->capacity = block_size;
  ahead->claimed = -1;
  ahead->file = -1;
  ahead->decoder = NewDecoder(AllocateMemory);
  ahead->incoming = static_cast<uint8_t*>(AllocateMemory(block_size));
  ahead->working = static_cast<uint8_t*>(AllocateMemory(block_size));
  InitLock(&ahead->lock);
  int conditions = InitCondition(&ahead->changed) | InitCondition(&ahead->room);
  if (!ahead->decoder || !ahead->incoming || !ahead->working || conditions != 0 ||
      StartThread(&ahead->thread, RunAhead, ahead) != 0) {
    FreeMemory(ahead->decoder);
    FreeMemory(ahead->incoming);
    FreeMemory(ahead->working);
    DestroyLock(&ahead->lock);
    FreeMemory(ahead);
    return nullptr;
  }
  return ahead;
}

void FinishLookahead(Lookahead* ahead) {
  Acquire(&ahead->lock);
  ahead->closing = true;
  BroadcastCondition(&ahead->changed);
  BroadcastCondition(&ahead->room);
  Release(&ahead->lock);
  JoinThread(&ahead->thread);
  DropBefore(ahead, INT64_MAX);
  FreeMemory(ahead->decoder);
  FreeMemory(ahead->incoming);
  FreeMemory(ahead->working);
  DestroyCondition(&ahead->changed);
  DestroyCondition(&ahead->room);
  DestroyLock(&ahead->lock);
  FreeMemory(ahead);
}

void ReadAheadFrom(Lookahead* ahead, FileHandle file) {
  Acquire(&ahead->lock);
  ahead->file = static_cast<int>(file.value);
  BroadcastCondition(&ahead->changed);
  Release(&ahead->lock);
}

void OfferBlock(Lookahead* ahead, int64_t offset, const uint8_t* bytes, size_t size) {
  if (size > ahead->capacity) return;
  Acquire(&ahead->lock);
  ahead->passed = offset;
  // A block the thread read itself is not copied again.
  if (offset > ahead->claimed) {
    memcpy(ahead->incoming, bytes, size);
    ahead->incoming_size = size;
    ahead->incoming_offset = offset;
    ahead->offered = true;
  }
  DropBefore(ahead, offset);  // the caller is past all of them
  BroadcastCondition(&ahead->changed);
  if (ahead->waits_room) BroadcastCondition(&ahead->room);
  Release(&ahead->lock);
}

AheadMember* TakeAheadMember(Lookahead* ahead, int64_t start) {
  Acquire(&ahead->lock);
  DropBefore(ahead, start);
  AheadMember* member = ahead->first && ahead->first->start == start ? ahead->first : nullptr;
  if (member) {
    ahead->first = member->next;
    if (!ahead->first) ahead->last = nullptr;
    ahead->held -= member->size;
  }
  if (ahead->waits_room) BroadcastCondition(&ahead->room);
  Release(&ahead->lock);
  return member;
}

void FreeAheadMember(Lookahead*, AheadMember* member) { FreeMemory(member); }
