// The thread that decodes ahead. It works on its own copy of a block: the
// one the caller read last, or the one after it, read here through a handle
// of its own. It keeps at most one block beyond the caller's, and drops what
// it has of a block once the caller reads past it. What it keeps lies in one
// ring allocated at the start: members are made in archive order and taken
// or dropped in archive order, so each goes in at the ring's tail and leaves
// at its head, and nothing is allocated for a member (memory made on this
// thread and freed on the caller's had the allocator hand pages back and
// fault them in afresh every few members).
#include "archive/lookahead.h"

#include <cstring>

#include "codec/codec.h"
#include "os/dirscan.h"
#include "os/memory.h"
#include "os/pipeline.h"

namespace {

const uint32_t MEMBER_LIMIT = 1 << 20;  // larger members are left to the caller
const unsigned ATTRIBUTE_BITS = 0x37;  // read-only, hidden, system, directory, archive
const size_t SLOT_ALIGN = alignof(AheadMember);

// Where the stream of the first file member of the records at at begins:
// end marks, directory records and a file record that the format allows,
// all within size. NO_STREAM where they do not fit.
size_t StreamAfterRecords(const uint8_t* bytes, size_t size, size_t at) {
  for (int records = 0; records < 64; records++) {
    if (at + 2 > size) return NO_STREAM;
    unsigned word = bytes[at] | (bytes[at + 1] << 8);
    at += 2;
    if (word == END_OF_LEVEL) continue;
    if (word & ~ATTRIBUTE_BITS) return NO_STREAM;
    size_t name = at;
    // A name of the platform's characters, no control codes.
    while (at < size && bytes[at] >= 0x20 && at - name < 259) at++;
    if (at >= size || bytes[at] != 0 || at == name) return NO_STREAM;
    at++;
    if (!(word & ATTR_DIRECTORY)) return at + 4 <= size ? at : NO_STREAM;
  }
  return NO_STREAM;
}

uint32_t SizeHeader(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
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

size_t GuessStream(const uint8_t* bytes, size_t size, size_t from) {
  // A loop, not memchr: setup.exe would import it from msvcrt.dll, beyond
  // what it may take from Windows 95's. A mark is met within a few bytes.
  for (size_t end_mark = from < 1 ? 1 : from; end_mark < size; end_mark++) {
    if (bytes[end_mark] != 0xFF || bytes[end_mark - 1] != 0) continue;
    size_t stream = StreamAfterRecords(bytes, size, end_mark + 1);
    if (stream != NO_STREAM && SizeHeader(bytes + stream) <= MEMBER_LIMIT) return stream;
  }
  return NO_STREAM;
}

// What the thread waits for: news (a block offered, the archive given to
// read ahead, or closing), or room in the ring.
enum Role { NEWS, ROOM };

struct Lookahead {
  Monitor monitor;
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
  FileHandle file;       // the thread's own, for reading ahead; NO_FILE: the caller offers every block
  // The ring, from its head: the member the caller has taken, those kept
  // for it (in archive order), and the one being decoded into, which ends
  // at tail.
  uint8_t* ring;
  size_t tail;
  AheadMember* taken;
  AheadMember* first;
  AheadMember* last;
  AheadMember* filling;
  AheadStats* stats;
  bool closing;
  Thread thread;
};

namespace {

AheadMember* Oldest(const Lookahead* ahead) {
  return ahead->taken ? ahead->taken : ahead->first ? ahead->first : ahead->filling;
}

// The bytes of the ring in use, what a wrap left unused at its end included.
size_t Held(const Lookahead* ahead) {
  const AheadMember* oldest = Oldest(ahead);
  if (!oldest) return 0;
  size_t head = static_cast<size_t>(reinterpret_cast<const uint8_t*>(oldest) - ahead->ring);
  return ahead->tail > head ? ahead->tail - head : AHEAD_HELD_LIMIT - head + ahead->tail;
}

// Room for a member of length bytes at the ring's tail (or, where the end
// is too near, at its start, before the head): null where there is none.
AheadMember* Reserve(Lookahead* ahead, uint32_t length) {
  size_t span = (sizeof(AheadMember) + length + SLOT_ALIGN - 1) / SLOT_ALIGN * SLOT_ALIGN;
  const AheadMember* oldest = Oldest(ahead);
  size_t at;
  if (!oldest) {
    at = 0;
  } else {
    size_t head = static_cast<size_t>(reinterpret_cast<const uint8_t*>(oldest) - ahead->ring);
    if (ahead->tail > head && AHEAD_HELD_LIMIT - ahead->tail >= span) {
      at = ahead->tail;
    } else if (ahead->tail > head && head >= span) {
      at = 0;
    } else if (ahead->tail <= head && head - ahead->tail >= span) {
      at = ahead->tail;
    } else {
      return nullptr;
    }
  }
  ahead->tail = at + span;
  AheadMember* member = reinterpret_cast<AheadMember*>(ahead->ring + at);
  member->next = nullptr;
  member->size = 0;
  member->data = reinterpret_cast<uint8_t*>(member + 1);
  return member;
}

// Gives up the member at the tail: the tail goes back to where it was.
void Unreserve(Lookahead* ahead, size_t tail) {
  ahead->filling = nullptr;
  ahead->tail = tail;
}

void Drop(Lookahead* ahead) {
  AheadMember* member = ahead->first;
  ahead->first = member->next;
  if (!ahead->first) ahead->last = nullptr;
}

// Decodes the member whose stream begins at at of the block at offset into
// the ring, once it has room (or the caller has passed the block): false
// where the caller has passed it. *end: where its stream ends, NO_STREAM
// where that is not known. A member not whole in the block, not sound, or
// that copies carried bytes is given up.
bool DecodeAhead(Lookahead* ahead, const uint8_t* bytes, size_t size, size_t at, int64_t offset, size_t* end) {
  *end = NO_STREAM;
  uint32_t length = SizeHeader(bytes + at);
  // A member that could not end within the block is not tried.
  if (length > MEMBER_LIMIT || length / 16 > size - at) return true;
  Monitor* monitor = &ahead->monitor;
  Enter(monitor);
  size_t tail = ahead->tail;
  AheadMember* member = nullptr;
  WaitUntil(monitor, ROOM, [&] { return ahead->passed > offset || ahead->closing || (member = Reserve(ahead, length)); });
  ahead->filling = member;
  Leave(monitor);
  if (!member) return false;

  member->start = offset + static_cast<int64_t>(at);
  BlockSource source = {{bytes + at, bytes + size, RunOut, false}, false};
  Filling filling = {member, length};
  WindowCarry carry{};  // unused: a stream that uses it is left to the caller
  uint64_t decoded;
  int result = DecompressMember(ahead->decoder, &source.source, FillMember, &filling, &carry, &decoded);
  bool whole = result == DECODE_OK && !source.ran_out;
  if (whole) {
    *end = static_cast<size_t>(source.source.next - bytes);
    member->end = offset + static_cast<int64_t>(*end);
  }

  Enter(monitor);
  bool kept = ahead->passed <= offset && !ahead->closing;
  if (kept && whole && !StreamUsedCarry(ahead->decoder)) {
    ahead->filling = nullptr;
    (ahead->last ? ahead->last->next : ahead->first) = member;
    ahead->last = member;
    size_t held = Held(ahead);
    if (ahead->stats && held > ahead->stats->most_held) ahead->stats->most_held = held;
  } else {
    Unreserve(ahead, tail);
  }
  Leave(monitor);
  return kept;
}

// Decodes the block from two fifths on, one member after another from a
// guess.
void DecodeBlock(Lookahead* ahead, const uint8_t* bytes, size_t size, int64_t offset) {
  // From two fifths on, not half: the caller also hands every member on,
  // and the two halves ended unevenly.
  size_t at = GuessStream(bytes, size, size / 5 * 2);
  while (at != NO_STREAM) {
    size_t end;
    if (!DecodeAhead(ahead, bytes, size, at, offset, &end) || end == NO_STREAM) return;
    at = StreamAfterRecords(bytes, size, end);
  }
}

// Whether the thread may read the block after its latest: that one was
// full, and the caller has come to it.
bool MayReadAhead(const Lookahead* ahead) {
  return ahead->file.value != NO_FILE && ahead->claimed >= 0 && ahead->claimed_size == ahead->capacity &&
         ahead->claimed <= ahead->passed;
}

void RunAhead(void* context) {
  Lookahead* ahead = static_cast<Lookahead*>(context);
  Monitor* monitor = &ahead->monitor;
  Enter(monitor);
  // The run's stop ends it too.
  while (WaitUntil(monitor, NEWS, [&] { return ahead->offered || MayReadAhead(ahead) || ahead->closing; }) &&
         !ahead->closing) {
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
      FileHandle file = ahead->file;
      Leave(monitor);
      size_t got = 0;
      int read = ReadFileAt(file, offset, ahead->working, ahead->capacity, &got);
      Enter(monitor);
      if (read != 0 || got == 0) {
        // Unclaimed again, so that the caller's offer of it is taken.
        ahead->claimed = before;
        ahead->claimed_size = before_size;
        ahead->file.value = NO_FILE;
        continue;
      }
      size = got;
    }
    ahead->claimed = offset;
    ahead->claimed_size = size;
    Leave(monitor);
    DecodeBlock(ahead, ahead->working, size, offset);
    Enter(monitor);
  }
  Leave(monitor);
}

void DropBefore(Lookahead* ahead, int64_t start) {
  while (ahead->first && ahead->first->start < start) Drop(ahead);
}

// Frees what was made of it, whatever that was.
void FreeLookahead(Lookahead* ahead) {
  FreeMemory(ahead->decoder);
  FreeMemory(ahead->incoming);
  FreeMemory(ahead->working);
  FreeMemory(ahead->ring);
  DestroyMonitor(&ahead->monitor);
  FreeMemory(ahead);
}

}  // namespace

Lookahead* StartLookahead(size_t block_size, AheadStats* stats) {
  Lookahead* ahead = static_cast<Lookahead*>(AllocateMemory(sizeof(Lookahead)));
  if (!ahead) return nullptr;
  memset(static_cast<void*>(ahead), 0, sizeof *ahead);
  ClearMonitor(&ahead->monitor);
  ahead->capacity = block_size;
  ahead->claimed = -1;
  ahead->file.value = NO_FILE;
  ahead->stats = stats;
  ahead->decoder = NewDecoder(AllocateMemory);
  ahead->incoming = static_cast<uint8_t*>(AllocateMemory(block_size));
  ahead->working = static_cast<uint8_t*>(AllocateMemory(block_size));
  ahead->ring = static_cast<uint8_t*>(AllocateMemory(AHEAD_HELD_LIMIT));
  if (InitMonitor(&ahead->monitor, 2) != 0 || !ahead->decoder || !ahead->incoming || !ahead->working || !ahead->ring ||
      StartThread(&ahead->thread, RunAhead, ahead) != 0) {
    FreeLookahead(ahead);
    return nullptr;
  }
  return ahead;
}

void FinishLookahead(Lookahead* ahead) {
  Enter(&ahead->monitor);
  ahead->closing = true;
  WakeAll(&ahead->monitor, NEWS);
  WakeAll(&ahead->monitor, ROOM);
  Leave(&ahead->monitor);
  JoinThread(&ahead->thread);
  FreeLookahead(ahead);
}

void ReadAheadFrom(Lookahead* ahead, FileHandle file) {
  Enter(&ahead->monitor);
  ahead->file = file;
  WakeAll(&ahead->monitor, NEWS);
  Leave(&ahead->monitor);
}

void OfferBlock(Lookahead* ahead, int64_t offset, const uint8_t* bytes, size_t size) {
  if (size > ahead->capacity) return;
  Enter(&ahead->monitor);
  ahead->passed = offset;
  // A block the thread read itself is not copied again.
  if (offset > ahead->claimed) {
    memcpy(ahead->incoming, bytes, size);
    ahead->incoming_size = size;
    ahead->incoming_offset = offset;
    ahead->offered = true;
  }
  DropBefore(ahead, offset);  // the caller is past all of them
  WakeAll(&ahead->monitor, NEWS);
  WakeAll(&ahead->monitor, ROOM);
  Leave(&ahead->monitor);
}

AheadMember* TakeAheadMember(Lookahead* ahead, int64_t start) {
  Enter(&ahead->monitor);
  DropBefore(ahead, start);
  AheadMember* member = ahead->first && ahead->first->start == start ? ahead->first : nullptr;
  if (member) {
    Drop(ahead);
    ahead->taken = member;
    if (ahead->stats) ahead->stats->members_taken++;
  }
  WakeAll(&ahead->monitor, ROOM);
  Leave(&ahead->monitor);
  return member;
}

void FreeAheadMember(Lookahead* ahead, AheadMember*) {
  Enter(&ahead->monitor);
  ahead->taken = nullptr;
  WakeAll(&ahead->monitor, ROOM);
  Leave(&ahead->monitor);
}
