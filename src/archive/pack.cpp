// The packer. Each member is one task. The worker that takes it runs the
// match stage and queues its token blocks; whoever holds the task's coder
// (that worker, or an idle one that helps, so that one big file keeps two
// cores busy) codes them in order into chunks of output. The calling thread
// writes the oldest task's chunks as they come, then its notes and
// statistics, and moves on. Bytes in flight are bounded: a number of tasks,
// a few token blocks per worker, and a budget of chunks for tasks that wait
// for their turn (the oldest one streams). Where no thread can be started,
// each member is compressed on the calling thread as it is handed on.
#include "archive/pack.h"

#include <cstring>
#include <new>

#include "archive/report.h"
#include "codec/encoder.h"
#include "os/memory.h"
#include "os/platform.h"
#include "os/threads.h"

namespace {

const int DEFAULT_TASKS = 64;
const int TOKEN_QUEUE = 8;  // token blocks per worker
const size_t DEFAULT_BUDGET = size_t{16} << 20;
const size_t OLDEST_LIMIT = size_t{1} << 20;  // what the writer may lag behind the oldest task
// Tasks the writer lets end before it is woken, when it waits for room for
// the next one: a wake-up for each small file would cost a switch of
// threads each, and the second core is busy.
const int WRITE_BATCH = 16;
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
  std::atomic<int64_t> read;  // of its file, for the progress
};

struct Worker {
  Packer* packer;
  MatchStage* match;
  CoderStage* coder;
  TokenBlock* blocks;  // TOKEN_QUEUE of them, used in turn
  uint8_t* buffer;     // STREAM_BUFFER bytes for reading members
  Thread thread;
};

}  // namespace

struct Packer {
  ArchiveOutput output;
  Lock lock;
  Condition work;      // a task to take, or token blocks to code
  Condition writable;  // the awaited task is done, or a worker waits for the writer
  Task* awaited;       // the task whose end the writer waits for
  int blocked;         // workers that wait for the writer to make room
  Condition progress;  // any other change
  Task* tasks;
  int task_count;
  size_t budget;
  Task* free_tasks;
  Task* oldest;  // the tasks handed on and not yet written, oldest first
  Task* newest;
  Task* start_first;
  Task* start_last;
  int idle;     // workers waiting for work
  size_t held;  // bytes in the chunks of all tasks
  bool stopping;
  bool out_of_memory;
  int worker_count;  // 0: everything on the calling thread
  Encoder* encoder;  // then, and its reading buffer
  uint8_t* buffer;
  Worker workers[MAX_WORKERS];
};

namespace {

// Scoped hold of the packer's lock, and waiting under it.
struct Held {
  Packer* packer;
  explicit Held(Packer* p) : packer(p) { Acquire(&packer->lock); }
  ~Held() { Release(&packer->lock); }
  void Unlock() { Release(&packer->lock); }
  void Relock() { Acquire(&packer->lock); }
  void Wait(Condition* condition) { WaitCondition(condition, &packer->lock); }
};

void ResetJob(PackJob* job) {
  job->text_size = 0;
  job->notes_size = 0;
  job->failure = 0;
  job->input.value = NO_FILE;
  job->size = 0;
  job->result = COMPRESS_OK;
  job->read_error = 0;
  job->coded_size = 0;
  job->path[0] = '\0';
}

void NoteFailure(ArchiveOutput* output, int result) {
  if (output->failure == 0) output->failure = result;
}

// Writes the job's records and markers, shows its notes and, when a stream
// follows, writes its size header.
void WriteJobStart(ArchiveOutput* output, const PackJob* job) {
  WriteBytes(output->writer, job->text, job->text_size);
  for (size_t at = 0; at < job->notes_size;) {
    const char* note = job->notes + at;
    if (note[0] == NOTE_STATUS) {
      StatusPrintf(output->window, "%s", note + 1);
    } else if (note[0] == NOTE_EMPTY) {
      ReportPacked(note + 1, 0, 0);
      ProgressUpdate(++output->files_done, output->bytes_done);
    } else {
      MessagePrintf("%s", note + 1);
    }
    while (job->notes[at++] != '\0') {
    }
  }
  NoteFailure(output, job->failure);
  if (job->size != 0) {
    uint8_t header[4];
    MakeSizeHeader(job->size, header);
    WriteBytes(output->writer, header, 4);
  }
}

// After the job's stream: its statistics, the progress, and what went wrong
// with it.
void WriteJobEnd(ArchiveOutput* output, const PackJob* job) {
  if (job->size == 0) return;
  ReportPacked(job->path, job->size, job->coded_size);
  output->files_done += 1;
  output->bytes_done += job->size;
  ProgressUpdate(output->files_done, output->bytes_done);
  // Its record and size are written: an archive without all of its bytes
  // would unpack as sound, but wrong.
  if (job->read_error) {
    SetSystemError(job->read_error);
    FailurePrintf("Failed to read file %s to its end; no archive is written.", job->path);
    output->broken = true;
  } else if (job->result == COMPRESS_SHORT_INPUT) {
    MessagePrintf("File %s shrank while it was archived; no archive is written.", job->path);
    output->broken = true;
  }
}

// Reads the job's file from its start into source.
void OpenMember(PackJob* job, FileReader* reader, uint8_t* buffer, std::atomic<int64_t>* counter) {
  OpenReader(reader, job->input, buffer, STREAM_BUFFER);
  reader->counter = counter;
  if (SeekInFile(job->input, 0) != 0) {
    reader->failed = true;
    reader->error = LastSystemError();
  }
}

void CloseMember(PackJob* job, const FileReader* reader) {
  if (reader->failed && !reader->source.abandoned) job->read_error = reader->error;
  CloseFileHandle(&job->input);
}

// Appends coded bytes to the task's chunks; waits while a task that is not
// the oldest holds more than its share.
int AppendChunk(void* context, const uint8_t* bytes, size_t size) {
  Task* task = static_cast<Task*>(context);
  Packer* packer = task->owner->packer;
  Held held(packer);
  while (!(task == packer->oldest ? task->unwritten < OLDEST_LIMIT : packer->held < packer->budget)) {
    packer->blocked++;
    SignalCondition(&packer->writable);
    held.Wait(&packer->progress);
    packer->blocked--;
  }
  packer->held += size;
  task->unwritten += size;
  held.Unlock();
  Chunk* chunk = static_cast<Chunk*>(AllocateMemory(sizeof(Chunk) + size));
  if (chunk) {
    chunk->next = nullptr;
    chunk->size = size;
    memcpy(chunk->bytes(), bytes, size);
  }
  held.Relock();
  if (!chunk) {
    packer->out_of_memory = true;
    packer->held -= size;
    task->unwritten -= size;
    return 1;
  }
  (task->last ? task->last->next : task->first) = chunk;
  task->last = chunk;
  // Only the oldest task's chunks can be written now, and the writer wants
  // them at once only when it waits for that task.
  if (task == packer->oldest && task == packer->awaited) SignalCondition(&packer->writable);
  return 0;
}

// Codes the task's oldest queued token block, holding its coder meanwhile.
void CodeOneBlock(Packer* packer, Task* task, Held& held) {
  task->coding = true;
  Worker* owner = task->owner;
  TokenBlock* block = &owner->blocks[task->consumed % TOKEN_QUEUE];
  held.Unlock();
  CodeTokens(owner->coder, block);
  held.Relock();
  task->consumed++;
  task->coding = false;
  BroadcastCondition(&packer->progress);
}

// Matches the task's member and sees it coded to its end.
void RunTask(Worker* worker, Task* task, Held& held) {
  Packer* packer = worker->packer;
  PackJob* job = &task->job;
  task->owner = worker;
  held.Unlock();
  FileReader reader;
  OpenMember(job, &reader, worker->buffer, &task->read);
  StartMatching(worker->match, &reader.source, job->size, job->carry);
  StartCoding(worker->coder, AppendChunk, task);
  bool more = true;
  while (more) {
    held.Relock();
    while (task->produced - task->consumed == TOKEN_QUEUE) {
      if (task->coding) {
        held.Wait(&packer->progress);
      } else {
        CodeOneBlock(packer, task, held);
      }
    }
    held.Unlock();
    more = FindTokens(worker->match, &worker->blocks[task->produced % TOKEN_QUEUE]);
    held.Relock();
    task->produced++;
    // An idle worker codes while this one goes on matching; without one,
    // this one codes each block as it is found.
    if (packer->idle > 0 && more) {
      SignalCondition(&packer->work);
    } else if (!task->coding) {
      CodeOneBlock(packer, task, held);
    }
    held.Unlock();
  }
  held.Relock();
  for (;;) {
    if (task->coding) {
      held.Wait(&packer->progress);
    } else if (task->consumed < task->produced) {
      CodeOneBlock(packer, task, held);
    } else {
      break;
    }
  }
  task->coding = true;
  held.Unlock();
  job->coded_size = FinishCoding(worker->coder);
  job->result = InputCameShort(worker->match) ? COMPRESS_SHORT_INPUT : COMPRESS_OK;
  CloseMember(job, &reader);
  held.Relock();
  task->coding = false;
  task->owner = nullptr;
  task->done = true;
  if (task == packer->awaited) SignalCondition(&packer->writable);
}

// A task whose token blocks wait for a coder, if any.
Task* TaskToHelp(Packer* packer) {
  for (Task* task = packer->oldest; task; task = task->next) {
    if (task->owner && !task->coding && task->consumed < task->produced) return task;
  }
  return nullptr;
}

void WorkerLoop(void* context) {
  Worker* worker = static_cast<Worker*>(context);
  Packer* packer = worker->packer;
  Held held(packer);
  for (;;) {
    if (Task* task = packer->start_first) {
      packer->start_first = task->next_start;
      if (!packer->start_first) packer->start_last = nullptr;
      RunTask(worker, task, held);
    } else if (Task* task = TaskToHelp(packer)) {
      while (task->owner && !task->coding && task->consumed < task->produced) CodeOneBlock(packer, task, held);
    } else if (packer->stopping) {
      return;
    } else {
      packer->idle++;
      held.Wait(&packer->work);
      packer->idle--;
    }
  }
}

// The task whose end the writer waits for: the last unfinished one of the
// batch tasks from the oldest (which is unfinished).
Task* TaskToAwait(Packer* packer, int batch) {
  Task* awaited = packer->oldest;
  int n = 1;
  for (Task* task = awaited->next; task && n < batch; task = task->next, n++) {
    if (!task->done) awaited = task;
  }
  return awaited;
}

// Writes what the oldest tasks have ready; waits and writes until until()
// holds. A wait lasts until the batch'th task from the oldest is done.
template <typename Until>
void WriteReady(Packer* packer, Held& held, Until until, int batch = 1) {
  for (;;) {
    Task* task = packer->oldest;
    if (until() || !task) return;
    ArchiveOutput* output = &packer->output;
    if (!task->started) {
      task->started = true;
      held.Unlock();
      WriteJobStart(output, &task->job);
      held.Relock();
    }
    if (Chunk* chunk = task->first) {
      task->first = chunk->next;
      if (!task->first) task->last = nullptr;
      held.Unlock();
      WriteBytes(output->writer, chunk->bytes(), chunk->size);
      // A big member shows how far its reading has come.
      ProgressUpdate(output->files_done, output->bytes_done + task->read.load(std::memory_order_relaxed));
      held.Relock();
      packer->held -= chunk->size;
      task->unwritten -= chunk->size;
      FreeMemory(chunk);
      BroadcastCondition(&packer->progress);
      continue;
    }
    if (task->done) {
      held.Unlock();
      WriteJobEnd(output, &task->job);
      held.Relock();
      packer->oldest = task->next;
      if (!packer->oldest) packer->newest = nullptr;
      task->next = packer->free_tasks;
      packer->free_tasks = task;
      BroadcastCondition(&packer->progress);  // a new oldest task may stream now
      continue;
    }
    // While a worker waits for room, every end of the oldest task counts.
    packer->awaited = TaskToAwait(packer, packer->blocked > 0 ? 1 : batch);
    held.Wait(&packer->writable);
    packer->awaited = nullptr;
  }
}

Task* TaskOf(PackJob* job) { return reinterpret_cast<Task*>(job); }

bool StartWorker(Packer* packer, Worker* worker) {
  worker->packer = packer;
  worker->match = NewMatchStage(AllocateMemory);
  worker->coder = NewCoderStage(AllocateMemory);
  worker->blocks = static_cast<TokenBlock*>(AllocateMemory(TOKEN_QUEUE * sizeof(TokenBlock)));
  worker->buffer = static_cast<uint8_t*>(AllocateMemory(STREAM_BUFFER));
  if (worker->match && worker->coder && worker->blocks && worker->buffer &&
      StartThread(&worker->thread, WorkerLoop, worker) == 0)
    return true;
  FreeMemory(worker->match);
  FreeMemory(worker->coder);
  FreeMemory(worker->blocks);
  FreeMemory(worker->buffer);
  return false;
}

// Compresses the job on the calling thread, straight into the archive.
void PackHere(Packer* packer, PackJob* job) {
  ArchiveOutput* output = &packer->output;
  WriteJobStart(output, job);
  if (job->size != 0) {
    FileReader reader;
    OpenMember(job, &reader, packer->buffer, nullptr);
    job->result = EncodeStream(packer->encoder, &reader.source, job->size, &job->carry, WriteToWriter,
                               output->writer, &job->coded_size);
    CloseMember(job, &reader);
  }
  WriteJobEnd(output, job);
}

void FreePacker(Packer* packer) {
  FreeMemory(packer->encoder);
  FreeMemory(packer->buffer);
  FreeMemory(packer->tasks);
  DestroyCondition(&packer->work);
  DestroyCondition(&packer->writable);
  DestroyCondition(&packer->progress);
  DestroyLock(&packer->lock);
  packer->~Packer();
  FreeMemory(packer);
}

}  // namespace

Packer* StartPacker(const ArchiveOutput& output, const WorkLimits* limits) {
  WorkLimits none = {0, 0, 0};
  if (!limits) limits = &none;
  void* memory = AllocateMemory(sizeof(Packer));
  if (!memory) {
    OutOfMemory("the packer");
    return nullptr;
  }
  Packer* packer = new (memory) Packer();
  packer->output = output;
  packer->budget = limits->output_budget ? limits->output_budget : DEFAULT_BUDGET;
  packer->task_count = limits->tasks > 0 ? limits->tasks : DEFAULT_TASKS;
  InitLock(&packer->lock);
  int conditions =
      InitCondition(&packer->work) | InitCondition(&packer->writable) | InitCondition(&packer->progress);
  packer->tasks = static_cast<Task*>(AllocateMemory(packer->task_count * sizeof(Task)));
  packer->encoder = NewEncoder(AllocateMemory);
  packer->buffer = static_cast<uint8_t*>(AllocateMemory(STREAM_BUFFER));
  if (conditions != 0 || !packer->tasks || !packer->encoder || !packer->buffer) {
    OutOfMemory("the packer");
    FreePacker(packer);
    return nullptr;
  }
  for (int i = packer->task_count - 1; i >= 0; i--) {
    Task* task = new (&packer->tasks[i]) Task();
    task->next = packer->free_tasks;
    packer->free_tasks = task;
  }
  int workers = limits->workers != 0 ? limits->workers : ProcessorCount();
  if (workers > MAX_WORKERS) workers = MAX_WORKERS;
  for (int i = 0; i < workers; i++) {  // none when below 0
    if (!StartWorker(packer, &packer->workers[packer->worker_count])) break;
    packer->worker_count++;
  }
  return packer;
}

PackJob* NextJob(Packer* packer) {
  Task* task;
  if (packer->worker_count == 0) {
    task = packer->tasks;
  } else {
    Held held(packer);
    WriteReady(packer, held, [&] { return packer->free_tasks != nullptr; }, WRITE_BATCH);
    task = packer->free_tasks;
    packer->free_tasks = task->next;
  }
  ResetJob(&task->job);
  task->next = task->next_start = nullptr;
  task->owner = nullptr;
  task->produced = task->consumed = 0;
  task->coding = task->started = false;
  task->first = task->last = nullptr;
  task->unwritten = 0;
  task->read = 0;
  return &task->job;
}

void SubmitJob(Packer* packer, PackJob* job) {
  if (packer->worker_count == 0) {
    PackHere(packer, job);
    return;
  }
  Task* task = TaskOf(job);
  Held held(packer);
  task->done = job->size == 0;
  (packer->newest ? packer->newest->next : packer->oldest) = task;
  packer->newest = task;
  if (!task->done) {
    (packer->start_last ? packer->start_last->next_start : packer->start_first) = task;
    packer->start_last = task;
    SignalCondition(&packer->work);
  }
  // Write what is ready without waiting for anything.
  WriteReady(packer, held, [&] {
    Task* oldest = packer->oldest;
    return !oldest || (oldest->started && !oldest->first && !oldest->done);
  });
}

bool PackerBroken(const Packer* packer) { return packer->output.broken; }

ArchiveOutput FinishPacker(Packer* packer) {
  if (packer->worker_count > 0) {
    {
      Held held(packer);
      WriteReady(packer, held, [&] { return packer->oldest == nullptr; });
      packer->stopping = true;
      BroadcastCondition(&packer->work);
    }
    for (int i = 0; i < packer->worker_count; i++) {
      Worker* worker = &packer->workers[i];
      JoinThread(&worker->thread);
      FreeMemory(worker->match);
      FreeMemory(worker->coder);
      FreeMemory(worker->blocks);
      FreeMemory(worker->buffer);
    }
  }
  ArchiveOutput output = packer->output;
  if (packer->out_of_memory) {
    OutOfMemory("the packed members");
    output.broken = true;
  }
  FreePacker(packer);
  return output;
}
