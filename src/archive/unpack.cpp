// The unpacker. Members sit in a ring in archive order. The caller fills
// the newest with blocks of decoded bytes; a member becomes visible to the
// workers when its first block is full or when it ends, and the workers take
// visible members in order, each writing its own member's blocks as they
// come. Only the calling thread tells outcomes, oldest first, and only the
// newest member can be waiting for bytes, so a worker never waits on
// anything but the caller, and the caller never waits on anything but the
// workers' progress.
#include "archive/unpack.h"

#include <cstdio>
#include <cstring>

#include "os/memory.h"
#include "os/platform.h"
#include "os/threads.h"
#include "ui/messages.h"

namespace {

const int DEFAULT_TASKS = 64;
const size_t DEFAULT_BUDGET = size_t{16} << 20;
const size_t BLOCK = size_t{1} << 16;
const int MAX_WORKERS = 64;
// Members handed on before an idle worker is woken: one wake-up a member
// would cost a switch of threads for each small file.
const uint64_t WAKE_BATCH = 16;
const uint64_t NOT_AWAITED = ~uint64_t{0};

struct Block {
  Block* next;
  size_t used;
  uint8_t bytes[BLOCK];
};

struct Member {
  // Set by the caller.
  const Directory* dir;
  char name[PATH_SIZE];
  char path[PATH_SIZE];
  void* tag;
  uint64_t size;
  Block* first;  // handed on, not yet written
  Block* last;
  bool visible;
  bool ended;
  bool sound;
  // The writer's: whoever took the member.
  bool opened;
  FileHandle file;
  char temporary[PATH_SIZE];
  int create_error;
  int write_error;
  bool done;
};

}  // namespace

struct Unpacker {
  Lock lock;
  Condition work;      // a member to take, or blocks for one taken
  Condition progress;  // what the caller waits for
  Member* ring;
  int capacity;
  uint64_t oldest;   // the first member whose outcome is not told yet
  int oldest_slot;   // its place in the ring
  uint64_t newest;   // one past the last member begun
  uint64_t visible;  // one past the last member the workers may take
  uint64_t taken;    // one past the last member a worker took
  Block* filling;    // the caller's block for the newest member
  Block* spare;
  size_t held;  // bytes of the blocks handed out
  size_t budget;
  bool closing;
  // What the caller waits for, so that a worker wakes it only then: the
  // member of that index done (NOT_AWAITED: none), or blocks freed.
  uint64_t awaited;
  bool awaits_blocks;
  OutcomeVisitor visit;
  void* context;
  Thread threads[MAX_WORKERS];
  int thread_count;
};

namespace {

struct Held {
  Lock* lock;
  explicit Held(Unpacker* unpacker) : lock(&unpacker->lock) { Acquire(lock); }
  ~Held() { Release(lock); }
};

// A member from oldest to newest, which are never a ring's length apart:
// its place without a 64-bit division (which the 32-bit build would take
// from libgcc).
Member* At(Unpacker* unpacker, uint64_t index) {
  int slot = unpacker->oldest_slot + static_cast<int>(index - unpacker->oldest);
  return &unpacker->ring[slot < unpacker->capacity ? slot : slot - unpacker->capacity];
}

// Creates a temporary file beside name in dir; its name is kept in
// temporary. A name left by a run that was killed is not ours to reuse.
int CreateTemporary(const Directory* dir, const char* name, char* temporary, FileHandle* file) {
  for (int attempt = 0; attempt < 100; attempt++) {
    // A name near the system's limit keeps only its head.
    snprintf(temporary, PATH_SIZE, "%.240s.part%d", name, attempt);
    if (OpenFileAt(dir, temporary, ACCESS_CREATE_NEW, file) == 0) return 0;
    int code = LastSystemError();
    if (!EntryExistsAt(dir, temporary)) {
      SetSystemError(code);
      break;
    }
  }
  return -1;
}

// Ends the member's file: 0, or -1 with the file gone (the system's code
// left) when it could not be closed or given its name.
// A file or a link standing under the name is replaced by the rename (the
// link itself, never what it leads to); a directory or a read-only file
// there stays, and the member is not written.
int CloseMember(Member* member) {
  if (CloseFileHandle(&member->file) != 0) {
    member->write_error = LastSystemError();
  } else if (RenameEntryAt(member->dir, member->temporary, member->name, true) != 0) {
    member->create_error = LastSystemError();
  } else {
    return 0;
  }
  DeleteEntryAt(member->dir, member->temporary);
  return -1;
}

// The file-system work on blocks taken from member, with ended telling
// whether more can come. The first call creates the file under a temporary
// name beside its own, which it takes only when it is whole: what stood
// under the name stays until then, whatever fails.
void WriteBlocks(Member* member, const Block* blocks, bool ended) {
  if (!member->opened) {
    member->opened = true;
    if (ended && !member->sound) return;  // nothing of it is written
    if (CreateTemporary(member->dir, member->name, member->temporary, &member->file) != 0)
      member->create_error = LastSystemError();
  }
  if (member->create_error) return;
  for (const Block* block = blocks; block && !member->write_error; block = block->next) {
    if (WriteToFile(member->file, block->bytes, block->used) != 0) member->write_error = LastSystemError();
  }
  if (!ended) return;
  if (member->sound && !member->write_error) {
    CloseMember(member);
  } else if (member->file.value != NO_FILE) {
    CloseFileHandle(&member->file);
    DeleteEntryAt(member->dir, member->temporary);  // what it holds is incomplete
  }
}

// Takes the blocks handed on for member: the chain, and whether it ended.
Block* TakeBlocks(Member* member, bool* ended) {
  Block* blocks = member->first;
  member->first = member->last = nullptr;
  *ended = member->ended;
  return blocks;
}

void FreeBlocks(Unpacker* unpacker, Block* blocks) {
  while (blocks) {
    Block* next = blocks->next;
    blocks->next = unpacker->spare;
    unpacker->spare = blocks;
    unpacker->held -= BLOCK;
    blocks = next;
  }
}

void RunWorker(void* context) {
  Unpacker* unpacker = static_cast<Unpacker*>(context);
  Held held(unpacker);
  for (;;) {
    while (unpacker->taken == unpacker->visible && !unpacker->closing) WaitCondition(&unpacker->work, held.lock);
    if (unpacker->taken == unpacker->visible) return;
    uint64_t index = unpacker->taken++;
    Member* member = At(unpacker, index);
    for (bool ended = false; !ended;) {
      while (!member->first && !member->ended) WaitCondition(&unpacker->work, held.lock);
      Block* blocks = TakeBlocks(member, &ended);
      Release(held.lock);
      WriteBlocks(member, blocks, ended);
      Acquire(held.lock);
      FreeBlocks(unpacker, blocks);
      member->done = ended;
      if (unpacker->awaits_blocks || (ended && index == unpacker->awaited))
        BroadcastCondition(&unpacker->progress);
    }
  }
}

// Where no thread writes, the caller writes what it handed on at once.
void WriteHere(Unpacker* unpacker, Member* member) {
  bool ended;
  Block* blocks = TakeBlocks(member, &ended);
  WriteBlocks(member, blocks, ended);
  FreeBlocks(unpacker, blocks);
  member->done = ended;
}

// Before the caller waits for the workers: they may sleep while members
// wait for them.
void WakeWorkers(Unpacker* unpacker) {
  if (unpacker->taken < unpacker->visible) BroadcastCondition(&unpacker->work);
}

// Waits, holding the lock, until the member of that index is done.
void AwaitMember(Unpacker* unpacker, uint64_t index) {
  Member* member = At(unpacker, index);
  if (member->done) return;
  WakeWorkers(unpacker);
  unpacker->awaited = index;
  while (!member->done) WaitCondition(&unpacker->progress, &unpacker->lock);
  unpacker->awaited = NOT_AWAITED;
}

// Waits, holding the lock, until less than limit (at least 1) is held.
void AwaitBlocks(Unpacker* unpacker, size_t limit) {
  if (unpacker->held < limit) return;
  WakeWorkers(unpacker);
  unpacker->awaits_blocks = true;
  while (unpacker->held >= limit) WaitCondition(&unpacker->progress, &unpacker->lock);
  unpacker->awaits_blocks = false;
}

// Tells the outcomes of the members before index (they are waited for).
// The last of them is awaited first: with one worker that finishes them
// all, and the caller sleeps once, not once a member.
void TellUntil(Unpacker* unpacker, uint64_t index) {
  {
    Held held(unpacker);
    if (unpacker->oldest < index) AwaitMember(unpacker, index - 1);
  }
  for (;;) {
    Member* member;
    {
      Held held(unpacker);
      if (unpacker->oldest >= index) return;
      member = At(unpacker, unpacker->oldest);
      AwaitMember(unpacker, unpacker->oldest);
    }
    MemberOutcome outcome = {member->path,         member->size,        member->sound,
                             member->create_error, member->write_error, member->tag};
    unpacker->visit(unpacker->context, outcome);
    Held held(unpacker);
    unpacker->oldest++;
    if (++unpacker->oldest_slot == unpacker->capacity) unpacker->oldest_slot = 0;
  }
}

}  // namespace

void TellWritten(Unpacker* unpacker) {
  uint64_t index = unpacker->oldest;
  {
    Held held(unpacker);
    while (index < unpacker->newest && At(unpacker, index)->done) index++;
  }
  TellUntil(unpacker, index);
}

namespace {

// Hands the newest member's filled block on.
void HandOn(Unpacker* unpacker, bool ended) {
  Member* member = At(unpacker, unpacker->newest - 1);
  Block* block = unpacker->filling;
  unpacker->filling = nullptr;
  Held held(unpacker);
  if (block) {
    block->next = nullptr;
    (member->last ? member->last->next : member->first) = block;
    member->last = block;
  }
  member->ended = ended;
  if (!member->visible) {
    member->visible = true;
    unpacker->visible++;
  }
  if (unpacker->thread_count == 0) {
    WriteHere(unpacker, member);
  } else if (unpacker->newest <= unpacker->taken || unpacker->visible - unpacker->taken >= WAKE_BATCH) {
    // A worker that took the member waits for its blocks.
    BroadcastCondition(&unpacker->work);
  }
}

// A block for the newest member's bytes, within the budget: waits for the
// workers while it is spent. Null when no memory can be had.
Block* NewBlock(Unpacker* unpacker) {
  for (;;) {
    {
      Held held(unpacker);
      AwaitBlocks(unpacker, unpacker->budget > BLOCK ? unpacker->budget - BLOCK + 1 : 1);
      Block* block = unpacker->spare;
      if (block) unpacker->spare = block->next;
      if (!block) block = static_cast<Block*>(AllocateMemory(sizeof(Block)));
      if (block) {
        unpacker->held += BLOCK;
        block->next = nullptr;
        block->used = 0;
        return block;
      }
      if (unpacker->held == 0) return nullptr;
      // Less is held once the workers have written what they have.
      AwaitBlocks(unpacker, 1);
    }
  }
}

bool SameName(const char* a, const char* b) {
  for (;; a++, b++) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
    if (!x) return true;
  }
}

}  // namespace

Unpacker* StartUnpacker(const WorkLimits* limits, OutcomeVisitor visit, void* context) {
  WorkLimits none = {0, 0, 0};
  if (!limits) limits = &none;
  Unpacker* unpacker = static_cast<Unpacker*>(AllocateMemory(sizeof(Unpacker)));
  if (!unpacker) {
    OutOfMemory("the extraction");
    return nullptr;
  }
  memset(static_cast<void*>(unpacker), 0, sizeof *unpacker);
  unpacker->capacity = limits->tasks > 0 ? limits->tasks : DEFAULT_TASKS;
  unpacker->budget = limits->output_budget > 0 ? limits->output_budget : DEFAULT_BUDGET;
  unpacker->visit = visit;
  unpacker->context = context;
  unpacker->awaited = NOT_AWAITED;
  InitLock(&unpacker->lock);
  int conditions = InitCondition(&unpacker->work) | InitCondition(&unpacker->progress);
  unpacker->ring = static_cast<Member*>(AllocateMemory(unpacker->capacity * sizeof(Member)));
  if (conditions != 0 || !unpacker->ring) {
    OutOfMemory("the extraction");
    FreeMemory(unpacker->ring);
    DestroyCondition(&unpacker->work);
    DestroyCondition(&unpacker->progress);
    DestroyLock(&unpacker->lock);
    FreeMemory(unpacker);
    return nullptr;
  }
  // The calling thread decodes, which takes longer than writing: the
  // other processors write, and more writers than that would only wait for
  // one another at the same directory.
  int workers = limits->workers != 0 ? limits->workers : ProcessorCount() > 2 ? ProcessorCount() - 1 : 1;
  if (workers > MAX_WORKERS) workers = MAX_WORKERS;
  for (int i = 0; i < workers; i++) {  // none when below 0
    if (StartThread(&unpacker->threads[unpacker->thread_count], RunWorker, unpacker) != 0) break;
    unpacker->thread_count++;
  }
  return unpacker;
}

void FinishUnpacker(Unpacker* unpacker) {
  CatchUp(unpacker);
  {
    Held held(unpacker);
    unpacker->closing = true;
    BroadcastCondition(&unpacker->work);
  }
  for (int i = 0; i < unpacker->thread_count; i++) JoinThread(&unpacker->threads[i]);
  for (Block* block = unpacker->spare; block;) {
    Block* next = block->next;
    FreeMemory(block);
    block = next;
  }
  FreeMemory(unpacker->filling);
  FreeMemory(unpacker->ring);
  DestroyCondition(&unpacker->work);
  DestroyCondition(&unpacker->progress);
  DestroyLock(&unpacker->lock);
  FreeMemory(unpacker);
}

void BeginMember(Unpacker* unpacker, const Directory* dir, const char* name, const char* path, void* tag) {
  // A full ring makes room for a batch, not for one member at a time.
  uint64_t capacity = static_cast<uint64_t>(unpacker->capacity);
  if (unpacker->newest - unpacker->oldest == capacity)
    TellUntil(unpacker, unpacker->oldest + (capacity < 2 * WAKE_BATCH ? 1 : WAKE_BATCH));
  // Two members of one name are written one after the other, as they stand.
  CatchUpWith(unpacker, dir, name);
  Member* member = At(unpacker, unpacker->newest);
  memset(static_cast<void*>(member), 0, sizeof *member);
  member->dir = dir;
  snprintf(member->name, sizeof member->name, "%s", name);
  snprintf(member->path, sizeof member->path, "%s", path);
  member->tag = tag;
  member->file.value = NO_FILE;
  Held held(unpacker);
  unpacker->newest++;
}

int AppendToMember(void* context, const uint8_t* bytes, size_t size) {
  Unpacker* unpacker = static_cast<Unpacker*>(context);
  At(unpacker, unpacker->newest - 1)->size += size;
  while (size > 0) {
    if (!unpacker->filling) {
      unpacker->filling = NewBlock(unpacker);
      if (!unpacker->filling) {
        OutOfMemory("the files being unpacked");
        return 1;
      }
    }
    Block* block = unpacker->filling;
    size_t part = BLOCK - block->used < size ? BLOCK - block->used : size;
    memcpy(block->bytes + block->used, bytes, part);
    block->used += part;
    bytes += part;
    size -= part;
    if (block->used == BLOCK) HandOn(unpacker, false);
  }
  return 0;
}

void EndMember(Unpacker* unpacker, bool sound) {
  At(unpacker, unpacker->newest - 1)->sound = sound;
  if (!sound && unpacker->filling) {
    Held held(unpacker);
    FreeBlocks(unpacker, unpacker->filling);
    unpacker->filling = nullptr;
  }
  HandOn(unpacker, true);
}

void CatchUp(Unpacker* unpacker) { TellUntil(unpacker, unpacker->newest); }

void CatchUpWith(Unpacker* unpacker, const Directory* dir, const char* name) {
  for (uint64_t index = unpacker->newest; index > unpacker->oldest; index--) {
    Member* member = At(unpacker, index - 1);
    if (member->dir == dir && SameName(member->name, name)) {
      TellUntil(unpacker, index);
      return;
    }
  }
}
