// The unpacker. Members sit in a ring in archive order. The caller fills
// the newest with blocks of decoded bytes from a pool; a member is handed
// to the workers when its first block is full or when it ends, and the
// workers take them in order, each writing its own member's blocks as they
// come. Only the calling thread tells outcomes, oldest first, and only the
// newest member can be waiting for bytes, so a worker never waits on
// anything but the caller, and the caller never waits on anything but the
// workers' progress. The first write that fails, or memory that runs out,
// halts it: no member is taken after that, and those in hand are dropped
// within their block, their temporary files removed.
#include "archive/unpack.h"

#include <cstdio>
#include <cstring>

#include "os/memory.h"
#include "os/platform.h"
#include "ui/messages.h"

namespace {

const int DEFAULT_TASKS = 64;
const size_t DEFAULT_BUDGET = size_t{16} << 20;
const size_t BLOCK = size_t{1} << 16;
const int MAX_WORKERS = 64;
// Members handed on before an idle worker is woken: one wake-up a member
// would cost a switch of threads for each small file.
const JobNumber WAKE_BATCH = 16;

// Who waits: the caller for an outcome or for a block; the workers for a
// member to take, or (one of them) for the blocks of the newest.
enum Role { TELLER, FILLER, WORKER, STREAMER };

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
  bool ended;
  bool sound;
  // The writer's: whoever took the member.
  bool opened;
  bool dropped;  // at the halt, with nothing of it written
  FileHandle file;
  char temporary[PATH_SIZE];
  int create_error;
  int write_error;
};

}  // namespace

struct Unpacker {
  Monitor monitor;
  Ring ring;
  Pool pool;
  Block* filling;  // the caller's block for the newest member
  bool closing;
  OutcomeVisitor visit;
  void* context;
  Thread threads[MAX_WORKERS];
  int thread_count;
};

namespace {

struct Held {
  Monitor* monitor;
  explicit Held(Unpacker* unpacker) : monitor(&unpacker->monitor) { Enter(monitor); }
  ~Held() { Leave(monitor); }
};

Member* At(Unpacker* unpacker, JobNumber index) { return static_cast<Member*>(JobAt(&unpacker->ring, index)); }

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
// under the name stays until then, whatever fails. At the halt the member
// goes no further, and what it wrote is removed.
void WriteBlocks(Member* member, const Block* blocks, bool ended, Monitor* monitor) {
  if (!member->opened && !Halted(monitor)) {
    member->opened = true;
    if (ended && !member->sound) return;  // nothing of it is written
    if (CreateTemporary(member->dir, member->name, member->temporary, &member->file) != 0)
      member->create_error = LastSystemError();
  }
  if (member->create_error) return;
  for (const Block* block = blocks; block && !member->write_error && !Halted(monitor); block = block->next) {
    if (WriteToFile(member->file, block->bytes, block->used) != 0) {
      member->write_error = LastSystemError();
      Halt(monitor, HALT_WRITE, member->write_error);  // at once: no other worker starts a member
    }
  }
  bool halted = Halted(monitor) && !member->write_error;
  if (!ended && !halted) return;
  if (halted) member->dropped = true;
  if (!halted && !member->write_error && member->sound) {
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

void GiveBlocks(Unpacker* unpacker, Block* blocks) {
  while (blocks) {
    Block* next = blocks->next;
    GiveBlock(&unpacker->pool, blocks);
    blocks = next;
  }
}

void Written(Unpacker* unpacker, JobNumber index, Block* blocks, bool ended) {
  GiveBlocks(unpacker, blocks);
  if (ended) MarkDone(&unpacker->ring, index);
}

void RunWorker(void* context) {
  Unpacker* unpacker = static_cast<Unpacker*>(context);
  Monitor* monitor = &unpacker->monitor;
  Held held(unpacker);
  JobNumber index;
  bool took = false;
  while (WaitUntil(monitor, WORKER, [&] { return (took = TakeJob(&unpacker->ring, &index)) || unpacker->closing; }) &&
         took) {
    Member* member = At(unpacker, index);
    for (bool ended = false; !ended;) {
      bool going = WaitUntil(monitor, STREAMER, [&] { return member->first || member->ended; });
      Block* blocks = TakeBlocks(member, &ended);
      ended = ended || !going;  // at the halt it goes no further
      Leave(monitor);
      WriteBlocks(member, blocks, ended, monitor);
      Enter(monitor);
      Written(unpacker, index, blocks, ended);
    }
  }
}

// Before the caller waits for the workers: they may sleep while members
// wait for them.
void WakeWorkers(Unpacker* unpacker) {
  if (unpacker->ring.taken != unpacker->ring.published) WakeAll(&unpacker->monitor, WORKER);
}

// Hands the newest member's filled block on.
void HandOn(Unpacker* unpacker, bool ended) {
  JobNumber index = unpacker->ring.newest - 1;
  Member* member = At(unpacker, index);
  Block* block = unpacker->filling;
  unpacker->filling = nullptr;
  Held held(unpacker);
  if (block) {
    block->next = nullptr;
    (member->last ? member->last->next : member->first) = block;
    member->last = block;
  }
  member->ended = ended;
  Ring* ring = &unpacker->ring;
  ring->published = ring->newest;
  if (unpacker->thread_count == 0) {
    // Where no thread writes, the caller writes what it handed on at once.
    bool end;
    Block* blocks = TakeBlocks(member, &end);
    ring->taken = ring->newest;
    Leave(held.monitor);
    WriteBlocks(member, blocks, end, &unpacker->monitor);
    Enter(held.monitor);
    Written(unpacker, index, blocks, end);
  } else if (index - ring->oldest < ring->taken - ring->oldest) {
    WakeOne(&unpacker->monitor, STREAMER);  // the one that took it waits for its blocks
  } else if (ring->published - ring->taken >= WAKE_BATCH) {
    WakeOne(&unpacker->monitor, WORKER);
  }
}

// Tells the outcomes of the members before index (they are waited for).
// The last of them is awaited first: with one worker that finishes them
// all, and the caller sleeps once, not once a member. At the halt, a
// member no worker took is dropped.
void TellUntil(Unpacker* unpacker, JobNumber index) {
  Ring* ring = &unpacker->ring;
  if (ring->oldest != index) {
    Held held(unpacker);
    if (!IsDone(ring, index - 1)) WakeWorkers(unpacker);
    WaitDone(ring, index - 1);
  }
  while (ring->oldest != index) {
    Member* member = At(unpacker, ring->oldest);
    {
      Held held(unpacker);
      if (!IsDone(ring, ring->oldest)) WakeWorkers(unpacker);
      if (!WaitDone(ring, ring->oldest)) member->dropped = true;
      GiveBlocks(unpacker, member->first);  // what came after a halt
      member->first = nullptr;
    }
    // One whose write failed is told so, though the halt cut its decoding.
    bool sound = (member->sound || member->write_error) && !member->dropped;
    MemberOutcome outcome = {member->path, member->size, sound, member->create_error, member->write_error, member->tag};
    unpacker->visit(unpacker->context, outcome);
    Held held(unpacker);
    LetGo(ring);
  }
}

// A block for the newest member's bytes, within the budget: waits for the
// workers while it is spent. Null at the halt.
Block* NewBlock(Unpacker* unpacker) {
  Held held(unpacker);
  if (PoolFull(&unpacker->pool)) WakeWorkers(unpacker);
  Block* block = static_cast<Block*>(TakeBlock(&unpacker->pool));
  if (block) {
    block->next = nullptr;
    block->used = 0;
  }
  return block;
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

void FreeUnpacker(Unpacker* unpacker) {
  FreeMemory(unpacker->filling);
  FreePool(&unpacker->pool);
  FreeRing(&unpacker->ring);
  DestroyMonitor(&unpacker->monitor);
  FreeMemory(unpacker);
}

}  // namespace

void TellWritten(Unpacker* unpacker) {
  JobNumber index = unpacker->ring.oldest;
  {
    Held held(unpacker);
    while (index != unpacker->ring.newest && IsDone(&unpacker->ring, index)) index++;
  }
  TellUntil(unpacker, index);
}

Unpacker* StartUnpacker(const WorkLimits* limits, OutcomeVisitor visit, void* context) {
  WorkLimits none = {0, 0, 0};
  if (!limits) limits = &none;
  Unpacker* unpacker = static_cast<Unpacker*>(AllocateMemory(sizeof(Unpacker)));
  if (!unpacker) {
    OutOfMemory("the extraction");
    return nullptr;
  }
  memset(static_cast<void*>(unpacker), 0, sizeof *unpacker);
  unpacker->visit = visit;
  unpacker->context = context;
  Monitor* monitor = &unpacker->monitor;
  int capacity = limits->tasks > 0 ? limits->tasks : DEFAULT_TASKS;
  InitPool(&unpacker->pool, monitor, FILLER, sizeof(Block), limits->output_budget > 0 ? limits->output_budget : DEFAULT_BUDGET);
  if ((InitMonitor(monitor, 4) | InitRing(&unpacker->ring, monitor, TELLER, capacity, sizeof(Member))) != 0) {
    OutOfMemory("the extraction");
    FreeUnpacker(unpacker);
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

bool UnpackerHalted(const Unpacker* unpacker) { return Halted(&unpacker->monitor); }

int FinishUnpacker(Unpacker* unpacker) {
  CatchUp(unpacker);
  {
    Held held(unpacker);
    unpacker->closing = true;
    WakeAll(&unpacker->monitor, WORKER);
  }
  for (int i = 0; i < unpacker->thread_count; i++) JoinThread(&unpacker->threads[i]);
  int halt = unpacker->monitor.halt;
  FreeUnpacker(unpacker);
  return halt;
}

void BeginMember(Unpacker* unpacker, const Directory* dir, const char* name, const char* path, void* tag) {
  // A full ring makes room for a batch, not for one member at a time.
  JobNumber capacity = static_cast<JobNumber>(unpacker->ring.capacity);
  if (RingFull(&unpacker->ring))
    TellUntil(unpacker, unpacker->ring.oldest + (capacity < 2 * WAKE_BATCH ? 1 : WAKE_BATCH));
  // Two members of one name are written one after the other, as they stand.
  CatchUpWith(unpacker, dir, name);
  Held held(unpacker);
  Member* member = static_cast<Member*>(ClaimJob(&unpacker->ring));
  memset(static_cast<void*>(member), 0, sizeof *member);
  member->dir = dir;
  snprintf(member->name, sizeof member->name, "%s", name);
  snprintf(member->path, sizeof member->path, "%s", path);
  member->tag = tag;
  member->file.value = NO_FILE;
}

int AppendToMember(void* context, const uint8_t* bytes, size_t size) {
  Unpacker* unpacker = static_cast<Unpacker*>(context);
  At(unpacker, unpacker->ring.newest - 1)->size += size;
  while (size > 0) {
    if (!unpacker->filling) {
      unpacker->filling = NewBlock(unpacker);
      if (!unpacker->filling) {
        // Only the caller takes memory here: a halt for memory is its own.
        if (unpacker->monitor.halt == HALT_MEMORY) OutOfMemory("the files being unpacked");
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
  At(unpacker, unpacker->ring.newest - 1)->sound = sound;
  if (!sound && unpacker->filling) {
    Held held(unpacker);
    GiveBlocks(unpacker, unpacker->filling);
    unpacker->filling = nullptr;
  }
  HandOn(unpacker, true);
}

void CatchUp(Unpacker* unpacker) { TellUntil(unpacker, unpacker->ring.newest); }

void CatchUpWith(Unpacker* unpacker, const Directory* dir, const char* name) {
  for (JobNumber index = unpacker->ring.newest; index != unpacker->ring.oldest; index--) {
    Member* member = At(unpacker, index - 1);
    if (member->dir == dir && SameName(member->name, name)) {
      TellUntil(unpacker, index);
      return;
    }
  }
}
