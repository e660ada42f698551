// Threads of work, a lock and a condition, over the platform's own: POSIX
// threads, or Win32's threads, critical sections and semaphores, which every
// Windows from 95 on has (condition variables came only with Vista). Where a
// thread cannot be started, its caller does the work on its own thread.
#pragma once

#include <cstdint>

struct Thread {
  intptr_t handle;
  void (*run)(void* context);
  void* context;
};
// Starts run(context) on a new thread: 0, or -1 when none could be started.
int StartThread(Thread* thread, void (*run)(void* context), void* context);
// Waits for the thread's end.
void JoinThread(Thread* thread);

struct Lock {
  alignas(16) unsigned char opaque[64];
};
void InitLock(Lock* lock);
void DestroyLock(Lock* lock);
void Acquire(Lock* lock);
void Release(Lock* lock);

struct Condition {
  alignas(16) unsigned char opaque[96];
};
// 0, or -1 when the system had nothing to build it of; then nothing of it
// is left to destroy.
int InitCondition(Condition* condition);
void DestroyCondition(Condition* condition);
// Lets go of lock while it waits, and holds it again when it returns. A wait
// may end without a signal: a caller waits in a loop on its own test.
void WaitCondition(Condition* condition, Lock* lock);
void SignalCondition(Condition* condition);     // wakes one waiter
void BroadcastCondition(Condition* condition);  // wakes every waiter
