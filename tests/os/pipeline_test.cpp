// The pipeline's pieces: the pool's bound, the ring's order, the halt
// reaching every kind of waiter, and set-up that fails part way.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "archive/lookahead.h"
#include "archive/pack.h"
#include "archive/unpack.h"
#include "os/fsops.h"
#include "os/pipeline.h"

namespace {

// A thread running a function, joined when it goes.
struct Running {
  std::function<void()> body;
  Thread thread;
  explicit Running(std::function<void()> run) : body(std::move(run)) {
    EXPECT_EQ(StartThread(&thread, [](void* self) { static_cast<Running*>(self)->body(); }, this), 0);
  }
  ~Running() { JoinThread(&thread); }
};

// Spins a little, differently for each caller, so that threads interleave.
void Dawdle(unsigned seed) {
  volatile unsigned x = seed;
  for (unsigned i = (seed * 2654435761u) % 20000; i > 0; i--) x = x * 3 + 1;
}

// Until a thread waits as role.
void AwaitWaiter(Monitor* monitor, int role) {
  for (;;) {
    Enter(monitor);
    int waiting = monitor->waiting[role];
    Leave(monitor);
    if (waiting > 0) return;
    Dawdle(3);
  }
}

struct Built {
  Monitor monitor;
  Built() { EXPECT_EQ(InitMonitor(&monitor, MAX_ROLES), 0); }
  ~Built() { DestroyMonitor(&monitor); }
};

TEST(Pool, NeverHoldsMoreThanItsLimitAndATakerWaitsForABlockBack) {
  Built built;
  Monitor* monitor = &built.monitor;
  Pool pool;
  InitPool(&pool, monitor, 0, 64, 3 * 64);
  std::atomic<int> out{0}, most{0};
  auto taker = [&](unsigned seed) {
    for (unsigned i = 0; i < 300; i++) {
      Enter(monitor);
      void* block = TakeBlock(&pool);
      int now = ++out;
      if (now > most) most = now;
      Leave(monitor);
      Dawdle(i + seed);
      Enter(monitor);
      --out;
      GiveBlock(&pool, block);
      Leave(monitor);
    }
  };
  {
    Running takers[4] = {Running([&] { taker(0); }), Running([&] { taker(7); }), Running([&] { taker(13); }),
                         Running([&] { taker(29); })};
  }
  EXPECT_LE(most.load(), 3);
  EXPECT_EQ(pool.held, 0u);
  // At the limit a taker waits until a block comes back, and gets that one.
  void* held[3];
  Enter(monitor);
  for (void*& block : held) block = TakeBlock(&pool);
  Leave(monitor);
  std::atomic<void*> taken{nullptr};
  {
    Running taker([&] {
      Enter(monitor);
      taken = TakeBlock(&pool);
      Leave(monitor);
    });
    AwaitWaiter(monitor, 0);
    EXPECT_EQ(taken.load(), nullptr);
    Enter(monitor);
    GiveBlock(&pool, held[1]);
    Leave(monitor);
  }
  EXPECT_EQ(taken.load(), held[1]);
  Enter(monitor);
  GiveBlock(&pool, held[0]);
  GiveBlock(&pool, held[2]);
  GiveBlock(&pool, taken.load());
  Leave(monitor);
  FreePool(&pool);
}

TEST(Ring, TheConsumerGetsEveryJobInOrderWhateverTheWorkersTiming) {
  Built built;
  Monitor* monitor = &built.monitor;
  Ring ring;
  ASSERT_EQ(InitRing(&ring, monitor, 0, 5, sizeof(int)), 0);
  const int jobs = 2000;
  std::atomic<bool> closing{false};
  auto work = [&] {
    Enter(monitor);
    JobNumber n;
    while (WaitUntil(monitor, 1, [&] { return ring.taken < ring.published || closing; }) && TakeJob(&ring, &n)) {
      int* job = static_cast<int*>(JobAt(&ring, n));
      Leave(monitor);
      Dawdle(static_cast<unsigned>(n));
      *job = *job * 2 + 1;
      Enter(monitor);
      MarkDone(&ring, n);
    }
    Leave(monitor);
  };
  std::vector<int> seen;
  {
    Running workers[3] = {Running(work), Running(work), Running(work)};
    int next = 0;
    Enter(monitor);
    while (static_cast<int>(seen.size()) < jobs) {
      if (next < jobs && !RingFull(&ring)) {
        *static_cast<int*>(ClaimJob(&ring)) = next++;
        ring.published = ring.newest;
        WakeOne(monitor, 1);
        continue;
      }
      ASSERT_TRUE(WaitDone(&ring, ring.oldest));
      seen.push_back(*static_cast<int*>(JobAt(&ring, ring.oldest)));
      LetGo(&ring);
    }
    closing = true;
    WakeAll(monitor, 1);
    Leave(monitor);
  }
  for (int i = 0; i < jobs; i++) ASSERT_EQ(seen[i], i * 2 + 1) << i;
  FreeRing(&ring);
}

// A waiter of each kind returns at the halt, with the first reason kept.
TEST(Halt, ReachesAWaiterInThePoolInTheRingAndOnARole) {
  struct Case {
    const char* waiter;
    int role;
    std::function<bool(Monitor*, Pool*, Ring*)> wait;  // true: it returned as at the halt
  } cases[] = {
      {"pool", 1, [](Monitor*, Pool* pool, Ring*) { return TakeBlock(pool) == nullptr; }},
      {"ring", 0, [](Monitor*, Pool*, Ring* ring) { return !WaitDone(ring, ring->oldest); }},
      {"role", 2, [](Monitor* monitor, Pool*, Ring*) { return !WaitUntil(monitor, 2, [] { return false; }); }},
  };
  for (const Case& c : cases) {
    Built built;
    Monitor* monitor = &built.monitor;
    Pool pool;
    InitPool(&pool, monitor, 1, 16, 16);
    Ring ring;
    ASSERT_EQ(InitRing(&ring, monitor, 0, 2, 8), 0);
    Enter(monitor);
    void* block = TakeBlock(&pool);
    ClaimJob(&ring);
    ring.published = ring.newest;  // no worker takes it
    Leave(monitor);
    std::atomic<int> returned{0};
    {
      Running waiter([&] {
        Enter(monitor);
        returned = c.wait(monitor, &pool, &ring) ? 1 : 2;
        Leave(monitor);
      });
      AwaitWaiter(monitor, c.role);
      Halt(monitor, HALT_WRITE, 28);
      Halt(monitor, HALT_MEMORY, 12);
    }
    EXPECT_EQ(returned.load(), 1) << c.waiter;
    EXPECT_EQ(monitor->halt.load(), HALT_WRITE) << c.waiter;
    EXPECT_EQ(monitor->halt_code, 28) << c.waiter;
    Enter(monitor);
    GiveBlock(&pool, block);
    Leave(monitor);
    FreePool(&pool);
    FreeRing(&ring);
  }
}

std::atomic<int> allocations{0}, fail_at{0};
int FailAllocation(int call) { return call == CALL_ALLOCATE && ++allocations == fail_at; }

// Each allocation of the set-up refused in turn: what was made is freed,
// once (the sanitize build finds leaks and double frees).
TEST(SetUp, AHalfBuiltPipelineIsFreed) {
  void (*const builds[])() = {
      [] {
        Monitor monitor;
        Ring ring;
        InitMonitor(&monitor, 2);
        InitRing(&ring, &monitor, 0, 4, 100);
        FreeRing(&ring);
        DestroyMonitor(&monitor);
      },
      [] {
        WorkLimits two = {2, 4, 0};
        if (Unpacker* unpacker = StartUnpacker(&two, [](void*, const MemberOutcome&) {}, nullptr))
          FinishUnpacker(unpacker);
      },
      [] {
        WorkLimits two = {2, 4, 0};
        ArchiveOutput output = {};
        if (Packer* packer = StartPacker(output, &two)) FinishPacker(packer);
      },
      [] {
        if (Lookahead* ahead = StartLookahead(1 << 16, nullptr)) FinishLookahead(ahead);
      },
  };
  settings.silent = 1;
  for (auto build : builds) {
    for (int at = 1;; at++) {
      allocations = 0;
      fail_at = at;
      fault_hook = FailAllocation;
      build();
      fault_hook = nullptr;
      if (allocations < at) break;  // every allocation had its turn
    }
  }
  settings.silent = 0;
}

}  // namespace
