// The pieces that packing, unpacking and decoding ahead are built of:
// - a monitor: one lock, and a condition for each role that waits (the
//   writer, the workers...), each with a count of its waiters, so that a
//   wake-up goes only where someone waits;
// - the halt: set by the first failure (no memory, a failed write, the
//   run's stop), keeping its reason; every wait ends at it, and every stage
//   looks at it between blocks;
// - a pool of equal blocks that holds at most its limit and makes a taker
//   wait until blocks come back;
// - a ring of jobs in order, whose consumer waits for job n to be done.
// Each part records whether it was made, so that a half-built one is freed
// by the same call as a whole one, and only what was made.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "os/threads.h"

const int MAX_ROLES = 4;

enum HaltReason { RUNNING, HALT_MEMORY, HALT_WRITE, HALT_STOP };

struct Monitor {
  Lock lock;
  Condition conditions[MAX_ROLES];
  int waiting[MAX_ROLES];
  int made;                // -1: nothing; else the lock and this many conditions
  std::atomic<int> halt;   // a HaltReason
  int halt_code;           // the system's code with it, or 0
};

// Zeroed first (made -1 there), then built: 0, or -1 with what was made
// left for DestroyMonitor.
void ClearMonitor(Monitor* monitor);
int InitMonitor(Monitor* monitor, int roles);
void DestroyMonitor(Monitor* monitor);

void Enter(Monitor* monitor);
void Leave(Monitor* monitor);
// Under the lock. One wait of role, which may end without a cause.
void WaitAs(Monitor* monitor, int role);
// Wakes one, or every, waiter of role; nothing when none waits.
void WakeOne(Monitor* monitor, int role);
void WakeAll(Monitor* monitor, int role);

// True once the work is to end. The run's stop counts as soon as it is
// asked for; the halt itself is set by whoever meets it first.
bool Halted(const Monitor* monitor);
// Under the lock: the first reason wins; every role is woken.
void HaltHeld(Monitor* monitor, int reason, int code);
void Halt(Monitor* monitor, int reason, int code);

// Under the lock: waits as role until done() holds (true), or until the
// halt (false).
template <typename Done>
bool WaitUntil(Monitor* monitor, int role, Done done) {
  for (;;) {
    if (done()) return true;
    if (Halted(monitor)) {
      HaltHeld(monitor, HALT_STOP, 0);  // a stop asked for wakes the others
      return false;
    }
    WaitAs(monitor, role);
  }
}

struct Pool {
  Monitor* monitor;
  int role;  // of those that wait for a block
  size_t block_size;
  size_t limit;  // bytes held at most; one block always may be
  size_t held;
  void* spare;   // blocks given back, kept for the next takers
};
void InitPool(Pool* pool, Monitor* monitor, int role, size_t block_size, size_t limit);
// Under the lock: a block of block_size bytes, waiting while the limit is
// reached (beyond: past it, for the taker that the others wait for). Null
// at the halt, and when no memory can be had (which halts, with the
// system's code).
void* TakeBlock(Pool* pool, bool beyond = false);
// Whether a taker would wait now.
bool PoolFull(const Pool* pool);
// Under the lock: the block comes back, for the next taker.
void GiveBlock(Pool* pool, void* block);
// When nothing is taken any more: frees the spare blocks.
void FreePool(Pool* pool);

// Jobs are numbered modulo 2^32 (the 32-bit build does no 64-bit
// arithmetic here): those in the ring are compared by their distance from
// the oldest.
typedef uint32_t JobNumber;

struct Ring {
  Monitor* monitor;
  int role;  // the consumer's
  uint8_t* slots;
  size_t slot_size;
  int capacity;
  bool* done;
  JobNumber oldest;     // the first job not yet let go
  JobNumber taken;      // one past the last job a worker took
  JobNumber published;  // one past the last job the workers may take
  JobNumber newest;     // one past the last job claimed
  int oldest_slot;
  JobNumber awaited;  // the job the consumer waits for
};
// Zeroed: 0, or -1 when its memory cannot be had (freed by FreeRing).
int InitRing(Ring* ring, Monitor* monitor, int consumer_role, int capacity, size_t slot_size);
void FreeRing(Ring* ring);
// The job of index n, from oldest to newest.
void* JobAt(Ring* ring, JobNumber n);
bool RingFull(const Ring* ring);
// Under the lock: the next job's slot, as its last job left it, when the
// ring is not full (its consumer makes room, with LetGo).
void* ClaimJob(Ring* ring);
// Under the lock: the next published job for a worker, unless there is
// none or the halt came.
bool TakeJob(Ring* ring, JobNumber* n);
// Under the lock: job n is done; its consumer is woken if it waits for it.
void MarkDone(Ring* ring, JobNumber n);
bool IsDone(Ring* ring, JobNumber n);
// Under the lock: waits until job n is done (true). At the halt a job that
// no worker took will never be (false); one that was taken is waited for,
// since its worker drops it within its block.
bool WaitDone(Ring* ring, JobNumber n);
// Under the lock: the oldest job's slot is free again.
void LetGo(Ring* ring);
