// The pipeline's pieces, on the threads and memory of the os layer.
#include "os/pipeline.h"

#include <cstring>

#include "base/errors.h"
#include "base/stop.h"
#include "os/memory.h"

void ClearMonitor(Monitor* monitor) {
  memset(static_cast<void*>(monitor), 0, sizeof *monitor);
  monitor->made = -1;
}

int InitMonitor(Monitor* monitor, int roles) {
  ClearMonitor(monitor);
  InitLock(&monitor->lock);
  monitor->made = 0;
  while (monitor->made < roles) {
    if (InitCondition(&monitor->conditions[monitor->made]) != 0) return -1;
    monitor->made++;
  }
  return 0;
}

void DestroyMonitor(Monitor* monitor) {
  if (monitor->made < 0) return;
  while (monitor->made > 0) DestroyCondition(&monitor->conditions[--monitor->made]);
  DestroyLock(&monitor->lock);
  monitor->made = -1;
}

void Enter(Monitor* monitor) { Acquire(&monitor->lock); }
void Leave(Monitor* monitor) { Release(&monitor->lock); }

void WaitAs(Monitor* monitor, int role) {
  monitor->waiting[role]++;
  WaitCondition(&monitor->conditions[role], &monitor->lock);
  monitor->waiting[role]--;
}

void WakeOne(Monitor* monitor, int role) {
  if (monitor->waiting[role] > 0) SignalCondition(&monitor->conditions[role]);
}

void WakeAll(Monitor* monitor, int role) {
  if (monitor->waiting[role] > 0) BroadcastCondition(&monitor->conditions[role]);
}

bool Halted(const Monitor* monitor) {
  return monitor->halt.load(std::memory_order_relaxed) != RUNNING || StopRequested() != 0;
}

void HaltHeld(Monitor* monitor, int reason, int code) {
  if (monitor->halt.load(std::memory_order_relaxed) != RUNNING) return;
  monitor->halt_code = code;
  monitor->halt.store(reason, std::memory_order_relaxed);
  for (int role = 0; role < monitor->made; role++) WakeAll(monitor, role);
}

void Halt(Monitor* monitor, int reason, int code) {
  Enter(monitor);
  HaltHeld(monitor, reason, code);
  Leave(monitor);
}

void InitPool(Pool* pool, Monitor* monitor, int role, size_t block_size, size_t limit) {
  pool->monitor = monitor;
  pool->role = role;
  pool->block_size = block_size;
  pool->limit = limit;
  pool->held = 0;
  pool->spare = nullptr;
}

void* TakeBlock(Pool* pool, bool beyond) {
  if (!WaitUntil(pool->monitor, pool->role, [&] { return beyond || !PoolFull(pool); }) || Halted(pool->monitor))
    return nullptr;
  void* block = pool->spare;
  if (block) {
    memcpy(&pool->spare, block, sizeof(void*));
  } else if (!(block = AllocateMemory(pool->block_size))) {
    HaltHeld(pool->monitor, HALT_MEMORY, LastSystemError());
    return nullptr;
  }
  pool->held += pool->block_size;
  return block;
}

bool PoolFull(const Pool* pool) { return pool->held != 0 && pool->held + pool->block_size > pool->limit; }

void GiveBlock(Pool* pool, void* block) {
  memcpy(block, &pool->spare, sizeof(void*));
  pool->spare = block;
  pool->held -= pool->block_size;
  WakeAll(pool->monitor, pool->role);
}

void FreePool(Pool* pool) {
  while (void* block = pool->spare) {
    memcpy(&pool->spare, block, sizeof(void*));
    FreeMemory(block);
  }
}

int InitRing(Ring* ring, Monitor* monitor, int consumer_role, int capacity, size_t slot_size) {
  memset(static_cast<void*>(ring), 0, sizeof *ring);
  ring->monitor = monitor;
  ring->role = consumer_role;
  ring->slot_size = slot_size;
  ring->capacity = capacity;
  ring->awaited = ~JobNumber{0};
  // The done flags after the slots, in one block.
  ring->slots = static_cast<uint8_t*>(AllocateMemory(capacity * (slot_size + sizeof(bool))));
  ring->done = reinterpret_cast<bool*>(ring->slots + capacity * slot_size);
  return ring->slots ? 0 : -1;
}

void FreeRing(Ring* ring) {
  FreeMemory(ring->slots);
  ring->slots = nullptr;
}

// Its place without a 64-bit division, which the 32-bit build would take
// from libgcc: jobs in the ring are never a ring's length apart.
static int SlotOf(const Ring* ring, JobNumber n) {
  int slot = ring->oldest_slot + static_cast<int>(n - ring->oldest);
  return slot < ring->capacity ? slot : slot - ring->capacity;
}

void* JobAt(Ring* ring, JobNumber n) { return ring->slots + SlotOf(ring, n) * ring->slot_size; }

bool RingFull(const Ring* ring) { return ring->newest - ring->oldest == static_cast<JobNumber>(ring->capacity); }

void* ClaimJob(Ring* ring) {
  if (RingFull(ring)) return nullptr;
  JobNumber n = ring->newest++;
  ring->done[SlotOf(ring, n)] = false;
  return JobAt(ring, n);
}

bool TakeJob(Ring* ring, JobNumber* n) {
  if (ring->taken == ring->published || Halted(ring->monitor)) return false;
  *n = ring->taken++;
  return true;
}

void MarkDone(Ring* ring, JobNumber n) {
  ring->done[SlotOf(ring, n)] = true;
  if (n == ring->awaited) WakeOne(ring->monitor, ring->role);
}

bool IsDone(Ring* ring, JobNumber n) { return ring->done[SlotOf(ring, n)]; }

bool WaitDone(Ring* ring, JobNumber n) {
  ring->awaited = n;
  while (!IsDone(ring, n) && !(n - ring->oldest >= ring->taken - ring->oldest && Halted(ring->monitor))) WaitAs(ring->monitor, ring->role);
  ring->awaited = ~JobNumber{0};
  return IsDone(ring, n);
}

void LetGo(Ring* ring) {
  ring->oldest++;
  if (ring->taken == ring->oldest - 1) ring->taken = ring->oldest;  // done without a worker
  if (++ring->oldest_slot == ring->capacity) ring->oldest_slot = 0;
}
