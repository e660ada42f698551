// Threads on POSIX threads.
#include <pthread.h>

#include <new>

#include "os/threads.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(Lock::opaque), "a mutex must fit a lock");
static_assert(sizeof(pthread_cond_t) <= sizeof(Condition::opaque), "a condition must fit");

static void* RunThread(void* argument) {
  Thread* thread = static_cast<Thread*>(argument);
  thread->run(thread->context);
  return nullptr;
}

int StartThread(Thread* thread, void (*run)(void*), void* context) {
  thread->run = run;
  thread->context = context;
  pthread_t id;
  if (pthread_create(&id, nullptr, RunThread, thread) != 0) return -1;
  thread->handle = (intptr_t)id;
  return 0;
}

void JoinThread(Thread* thread) { pthread_join((pthread_t)thread->handle, nullptr); }

static pthread_mutex_t* Mutex(Lock* lock) { return reinterpret_cast<pthread_mutex_t*>(lock->opaque); }
static pthread_cond_t* Cond(Condition* condition) {
  return reinterpret_cast<pthread_cond_t*>(condition->opaque);
}

void InitLock(Lock* lock) { pthread_mutex_init(new (lock->opaque) pthread_mutex_t, nullptr); }
void DestroyLock(Lock* lock) { pthread_mutex_destroy(Mutex(lock)); }
void Acquire(Lock* lock) { pthread_mutex_lock(Mutex(lock)); }
void Release(Lock* lock) { pthread_mutex_unlock(Mutex(lock)); }

int InitCondition(Condition* condition) {
  return pthread_cond_init(new (condition->opaque) pthread_cond_t, nullptr) == 0 ? 0 : -1;
}
void DestroyCondition(Condition* condition) { pthread_cond_destroy(Cond(condition)); }
void WaitCondition(Condition* condition, Lock* lock) { pthread_cond_wait(Cond(condition), Mutex(lock)); }
void SignalCondition(Condition* condition) { pthread_cond_signal(Cond(condition)); }
void BroadcastCondition(Condition* condition) { pthread_cond_broadcast(Cond(condition)); }
