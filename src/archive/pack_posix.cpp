// The Linux packer: members are compressed on worker threads while the
// calling thread walks the tree and writes the archive in order.
//
// Each member is one task. The worker that takes it runs the match stage
// and queues its token blocks; whoever holds the task's coder (that worker,
// or an idle one that helps, so that one big file keeps two cores busy)
// codes them in order into chunks of output. The calling thread writes the
// oldest task's chunks as they come, then its notes and statistics, and
// moves on. Bytes in flight are bounded: at most TASK_COUNT tasks, a few
// token blocks per worker, and OUTPUT_BUDGET bytes of chunks for tasks
// that wait for their turn (the oldest one streams).
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "archive/pack.h"
#include "codec/encoder.h"

namespace {

const int TASK_COUNT = 64;
const int TOKEN_QUEUE = 8;  // token blocks per worker
const size_t OUTPUT_BUDGET = size_t{16} << 20;
const size_t OLDEST_LIMIT = size_t{1} << 20;  // what the writer may lag behind the oldest task
const int MAX_WORKERS = 64;

struct Chunk {
  Chunk* next;
  size_t size;
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
};

struct Worker;

struct Task {
  PackJob job;
  Task* next;        // in archive order, or in the free list
  Task* next_start;  // among the tasks no worker has taken yet
  Worker* owner;     // the worker that matches it; its blocks and coder
  int produced;      // token blocks found
  int consumed;      // token blocks coded
  bool coding;       // someone holds the coder
  bool done;         // its stream is complete
  bool started;      // its stretch is being written
  Chunk* first;
  Chunk* last;
  size_t unwritten;  // bytes in its chunks
};

struct Worker {
  Packer* packer;
  MatchStage* match;
  CoderStage* coder;
  TokenBlock* blocks;  // TOKEN_QUEUE of them, used in turn
  std::thread thread;
};

}  // namespace

struct Packer {
  ArchiveOutput output;
  std::mutex mutex;
  std::condition_variable work;      // a task to take, or token blocks to code
  std::condition_variable progress;  // any other change
  Task tasks[TASK_COUNT];
  Task* free_tasks;
  Task* oldest;  // the tasks handed on and not yet written, oldest first
  Task* newest;
  Task* start_first;
  Task* start_last;
  int idle;      // workers waiting for work
  size_t held;   // bytes in the chunks of all tasks
  bool stopping;
  bool out_of_memory;
  int worker_count;
  Worker workers[MAX_WORKERS];
};

namespace {

typedef std::unique_lock<std::mutex> Lock;

// Appends coded bytes to the task's chunks; waits while a task that is not
// the oldest holds more than its share.
void AppendChunk(void* context, const uint8_t* bytes, size_t size) {
  Task* task = static_cast<Task*>(context);
  Packer* packer = task->owner->packer;
  Lock lock(packer->mutex);
  packer->progress.wait(lock, [&] {
    return task == packer->oldest ? task->unwritten < OLDEST_LIMIT : packer->held < OUTPUT_BUDGET;
  });
  packer->held += size;
  task->unwritten += size;
  lock.unlock();
  Chunk* chunk = static_cast<Chunk*>(malloc(sizeof(Chunk) + size));
  if (chunk) {
    chunk->next = nullptr;
    chunk->size = size;
    memcpy(chunk->bytes(), bytes, size);
  }
  lock.lock();
  if (!chunk) {
    packer->out_of_memory = true;
    packer->held -= size;
    task->unwritten -= size;
    return;
  }
  (task->last ? task->last->next : task->first) = chunk;
  task->last = chunk;
  packer->progress.notify_all();
}

// Codes the task's oldest queued token block, holding its coder meanwhile.
void CodeOneBlock(Packer* packer, Task* task, Lock& lock) {
  task->coding = true;
  Worker* owner = task->owner;
  TokenBlock* block = &owner->blocks[task->consumed % TOKEN_QUEUE];
  lock.unlock();
  CodeTokens(owner->coder, block);
  lock.lock();
  task->consumed++;
  task->coding = false;
  packer->progress.notify_all();
}

// Matches the task's member and sees it coded to its end.
void RunTask(Worker* worker, Task* task, Lock& lock) {
  Packer* packer = worker->packer;
  PackJob* job = &task->job;
  task->owner = worker;
  lock.unlock();
  StartMatching(worker->match, job->input, job->size, job->carry);
  StartCoding(worker->coder, AppendChunk, task);
  bool more = true;
  while (more) {
    lock.lock();
    while (task->produced - task->consumed == TOKEN_QUEUE) {
      if (task->coding) {
        packer->progress.wait(lock);
      } else {
        CodeOneBlock(packer, task, lock);
      }
    }
    lock.unlock();
    more = FindTokens(worker->match, &worker->blocks[task->produced % TOKEN_QUEUE]);
    lock.lock();
    task->produced++;
    // An idle worker codes while this one goes on matching; without one,
    // this one codes each block as it is found.
    if (packer->idle > 0 && more) {
      packer->work.notify_one();
    } else if (!task->coding) {
      CodeOneBlock(packer, task, lock);
    }
    lock.unlock();
  }
  lock.lock();
  for (;;) {
    if (task->coding) {
      packer->progress.wait(lock);
    } else if (task->consumed < task->produced) {
      CodeOneBlock(packer, task, lock);
    } else {
      break;
    }
  }
  task->coding = true;
  lock.unlock();
  job->coded_size = FinishCoding(worker->coder);
  job->result = InputCameShort(worker->match) ? COMPRESS_SHORT_INPUT : COMPRESS_OK;
  fclose(job->input);
  job->input = nullptr;
  lock.lock();
  task->coding = false;
  task->owner = nullptr;
  task->done = true;
  packer->progress.notify_all();
}

// A task whose token blocks wait for a coder, if any.
Task* TaskToHelp(Packer* packer) {
  for (Task* task = packer->oldest; task; task = task->next) {
    if (task->owner && !task->coding && task->consumed < task->produced) return task;
  }
  return nullptr;
}

void WorkerLoop(Worker* worker) {
  Packer* packer = worker->packer;
  Lock lock(packer->mutex);
  for (;;) {
    if (Task* task = packer->start_first) {
      packer->start_first = task->next_start;
      if (!packer->start_first) packer->start_last = nullptr;
      RunTask(worker, task, lock);
    } else if (Task* task = TaskToHelp(packer)) {
      while (task->owner && !task->coding && task->consumed < task->produced) CodeOneBlock(packer, task, lock);
    } else if (packer->stopping) {
      return;
    } else {
      packer->idle++;
      packer->work.wait(lock);
      packer->idle--;
    }
  }
}

// Writes what the oldest tasks have ready; with until, waits and writes
// until until() holds.
template <typename Condition>
void WriteReady(Packer* packer, Lock& lock, Condition until) {
  for (;;) {
    Task* task = packer->oldest;
    if (until() || !task) return;
    ArchiveOutput* output = &packer->output;
    if (!task->started) {
      task->started = true;
      lock.unlock();
      WriteJobStart(output, &task->job);
      lock.lock();
    }
    if (Chunk* chunk = task->first) {
      task->first = chunk->next;
      if (!task->first) task->last = nullptr;
      lock.unlock();
      fwrite(chunk->bytes(), 1, chunk->size, output->archive);
      lock.lock();
      packer->held -= chunk->size;
      task->unwritten -= chunk->size;
      free(chunk);
      packer->progress.notify_all();
      continue;
    }
    if (task->done) {
      lock.unlock();
      WriteJobEnd(output, &task->job);
      lock.lock();
      packer->oldest = task->next;
      if (!packer->oldest) packer->newest = nullptr;
      task->next = packer->free_tasks;
      packer->free_tasks = task;
      packer->progress.notify_all();  // a new oldest task may stream now
      continue;
    }
    packer->progress.wait(lock);
  }
}

Task* TaskOf(PackJob* job) { return reinterpret_cast<Task*>(job); }

}  // namespace

Packer* StartPacker(const ArchiveOutput& output, int workers) {
  Packer* packer = new (std::nothrow) Packer();
  if (!packer) return nullptr;
  packer->output = output;
  for (int i = TASK_COUNT - 1; i >= 0; i--) {
    packer->tasks[i].next = packer->free_tasks;
    packer->free_tasks = &packer->tasks[i];
  }
  if (workers <= 0) workers = static_cast<int>(std::thread::hardware_concurrency());
  if (workers <= 0) workers = 1;
  if (workers > MAX_WORKERS) workers = MAX_WORKERS;
  for (int i = 0; i < workers; i++) {
    Worker* worker = &packer->workers[i];
    worker->packer = packer;
    worker->match = NewMatchStage();
    worker->coder = NewCoderStage();
    worker->blocks = static_cast<TokenBlock*>(malloc(TOKEN_QUEUE * sizeof(TokenBlock)));
    if (!worker->match || !worker->coder || !worker->blocks) {
      FreeMatchStage(worker->match);
      FreeCoderStage(worker->coder);
      free(worker->blocks);
      break;
    }
    packer->worker_count++;
  }
  for (int i = 0; i < packer->worker_count; i++) {
    packer->workers[i].thread = std::thread(WorkerLoop, &packer->workers[i]);
  }
  if (packer->worker_count == 0) {
    delete packer;
    return nullptr;
  }
  return packer;
}

PackJob* NextJob(Packer* packer) {
  Lock lock(packer->mutex);
  WriteReady(packer, lock, [&] { return packer->free_tasks != nullptr; });
  Task* task = packer->free_tasks;
  packer->free_tasks = task->next;
  lock.unlock();
  ResetJob(&task->job);
  task->next = task->next_start = nullptr;
  task->owner = nullptr;
  task->produced = task->consumed = 0;
  task->coding = task->started = false;
  task->first = task->last = nullptr;
  task->unwritten = 0;
  return &task->job;
}

void SubmitJob(Packer* packer, PackJob* job) {
  Task* task = TaskOf(job);
  Lock lock(packer->mutex);
  task->done = job->size == 0;
  (packer->newest ? packer->newest->next : packer->oldest) = task;
  packer->newest = task;
  if (!task->done) {
    (packer->start_last ? packer->start_last->next_start : packer->start_first) = task;
    packer->start_last = task;
    packer->work.notify_one();
  }
  // Write what is ready without waiting for anything.
  WriteReady(packer, lock, [&] {
    Task* oldest = packer->oldest;
    return !oldest || (oldest->started && !oldest->first && !oldest->done);
  });
}

bool IsArchiveItself(Packer* packer, FILE* input) {
  struct stat member, archive;
  return fstat(fileno(input), &member) == 0 && fstat(fileno(packer->output.archive), &archive) == 0 &&
         member.st_dev == archive.st_dev && member.st_ino == archive.st_ino;
}

void DrainPacker(Packer* packer) {
  Lock lock(packer->mutex);
  WriteReady(packer, lock, [&] { return packer->oldest == nullptr; });
  fflush(packer->output.archive);
}

ArchiveOutput FinishPacker(Packer* packer) {
  DrainPacker(packer);
  {
    Lock lock(packer->mutex);
    packer->stopping = true;
    packer->work.notify_all();
  }
  for (int i = 0; i < packer->worker_count; i++) {
    Worker* worker = &packer->workers[i];
    worker->thread.join();
    FreeMatchStage(worker->match);
    FreeCoderStage(worker->coder);
    free(worker->blocks);
  }
  ArchiveOutput output = packer->output;
  if (packer->out_of_memory) {
    MessagePrintf("Not enough memory: members of the archive are incomplete.");
    NoteFailure(&output, 1);
  }
  delete packer;
  return output;
}
