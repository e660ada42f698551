// Threads on Win32's own: CreateThread, critical sections, and a condition
// built of two semaphores, which Windows 95 has as well (condition variables
// came with Vista). A waiter counts itself in and sleeps on one semaphore;
// whoever wakes it waits on the other until it is up, so that no later
// waiter can take a wake-up meant for an earlier one.
#include <windows.h>

#include <new>

#include "os/threads.h"

namespace {

struct ConditionState {
  CRITICAL_SECTION guard;
  HANDLE sleep;
  HANDLE handshake;
  int waiters;
};

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(Lock::opaque), "a critical section must fit a lock");
static_assert(sizeof(ConditionState) <= sizeof(Condition::opaque), "a condition must fit");

CRITICAL_SECTION* Section(Lock* lock) { return reinterpret_cast<CRITICAL_SECTION*>(lock->opaque); }
ConditionState* State(Condition* condition) { return reinterpret_cast<ConditionState*>(condition->opaque); }

DWORD WINAPI RunThread(void* argument) {
  Thread* thread = static_cast<Thread*>(argument);
  thread->run(thread->context);
  return 0;
}

// Wakes count waiters, and waits until each is up.
void Wake(ConditionState* state, int count) {
  if (count <= 0) return;
  state->waiters -= count;
  ReleaseSemaphore(state->sleep, count, nullptr);
  for (int i = 0; i < count; i++) WaitForSingleObject(state->handshake, INFINITE);
}

}  // namespace

int StartThread(Thread* thread, void (*run)(void*), void* context) {
  thread->run = run;
  thread->context = context;
  DWORD id;
  HANDLE handle = CreateThread(nullptr, 0, RunThread, thread, 0, &id);
  if (!handle) return -1;
  thread->handle = (intptr_t)handle;
  return 0;
}

void JoinThread(Thread* thread) {
  WaitForSingleObject((HANDLE)thread->handle, INFINITE);
  CloseHandle((HANDLE)thread->handle);
}

void InitLock(Lock* lock) { InitializeCriticalSection(new (lock->opaque) CRITICAL_SECTION); }
void DestroyLock(Lock* lock) { DeleteCriticalSection(Section(lock)); }
void Acquire(Lock* lock) { EnterCriticalSection(Section(lock)); }
void Release(Lock* lock) { LeaveCriticalSection(Section(lock)); }

int InitCondition(Condition* condition) {
  ConditionState* state = new (condition->opaque) ConditionState;
  state->waiters = 0;
  state->sleep = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
  state->handshake = CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
  if (!state->sleep || !state->handshake) {
    if (state->sleep) CloseHandle(state->sleep);
    if (state->handshake) CloseHandle(state->handshake);
    return -1;
  }
  InitializeCriticalSection(&state->guard);
  return 0;
}

void DestroyCondition(Condition* condition) {
  ConditionState* state = State(condition);
  DeleteCriticalSection(&state->guard);
  CloseHandle(state->sleep);
  CloseHandle(state->handshake);
}

void WaitCondition(Condition* condition, Lock* lock) {
  ConditionState* state = State(condition);
  EnterCriticalSection(&state->guard);
  state->waiters++;
  LeaveCriticalSection(&state->guard);
  Release(lock);
  WaitForSingleObject(state->sleep, INFINITE);
  ReleaseSemaphore(state->handshake, 1, nullptr);
  Acquire(lock);
}

void SignalCondition(Condition* condition) {
  ConditionState* state = State(condition);
  EnterCriticalSection(&state->guard);
  Wake(state, state->waiters > 0 ? 1 : 0);
  LeaveCriticalSection(&state->guard);
}

void BroadcastCondition(Condition* condition) {
  ConditionState* state = State(condition);
  EnterCriticalSection(&state->guard);
  Wake(state, state->waiters);
  LeaveCriticalSection(&state->guard);
}
