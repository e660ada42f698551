// The packer. Each member is one task, in a ring in archive order. The
// worker that takes it runs the match stage and queues its token blocks;
// they are coded in order into chunks of output, by that worker or by an
// idle one that helps, so that one big file keeps two cores busy. The
// calling thread writes the oldest task's chunks as they come, then its
// notes and statistics, and moves on. Bytes in flight are bounded: a number
// of tasks, a few token blocks per worker, and a pool of chunks for the
// tasks that wait for their turn (the oldest one streams). The first
// failed write, memory that runs out or the run's stop halts it all: the
// workers drop their tasks within their block, and nothing more is
// written. Where no thread can be started, each member is compressed on
// the calling thread as it is handed on.
#include "archive/pack.h"

#include <cstring>
#include <new>

#include "archive/report.h"
#include "codec/encoder.h"
#include "os/memory.h"
#include "os/pipeline.h"
#include "os/platform.h"

namespace {

const int DEFAULT_TASKS = 64;
const int TOKEN_QUEUE = 8;  // token blocks per worker
const size_t DEFAULT_BUDGET = size_t{16} << 20;
const size_t CHUNK_BYTES = size_t{1} << 16;
const size_t OLDEST_LIMIT = size_t{1} << 20;  // what the writer may lag behind the oldest task
// Tasks the writer lets end before it is woken, when it waits for room for
// the next one: a wake-up for each small file would cost a switch of
// threads each, and the second core is busy.
const int WRITE_BATCH = 16;
const int MAX_WORKERS = 64;

// Who waits: the writer (for the oldest task, or for a task done), idle
// workers, workers whose output waits for room, and a matcher for the
// coding of its blocks.
enum Role { WRITER, IDLE, ROOM, MATCHER };

struct Chunk {
  Chunk* next;
  size_t size;
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
};

struct Worker;

struct Task {
  PackJob job;
  JobNumber index;  // in the ring
  Worker* owner;   // the worker that matches it; its blocks and coder
  Worker* coder;   // the one coding its next block now, or null
  int produced;    // token blocks found
  int consumed;    // token blocks coded
  bool started;    // its stretch is being written
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
  Monitor monitor;
  Ring ring;    // the tasks; those before published are handed on
  Pool chunks;  // for the tasks that are not the oldest
  bool stopping;
  int worker_count;  // 0: everything on the calling thread
  Encoder* encoder;  // then, and its reading buffer
  uint8_t* buffer;
  Worker workers[MAX_WORKERS];
};

namespace {

// Scoped hold of the packer's lock.
struct Held {
  Monitor* monitor;
  explicit Held(Packer* packer) : monitor(&packer->monitor) { Enter(monitor); }
  ~Held() { Leave(monitor); }
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
      MessagePrintf(note[0] == NOTE_FAILURE ? FAILURE : note[0] == NOTE_VERBOSE ? VERBOSE : WARNING, "%s", note + 1);
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
    ReportFailure("Failed to read file %s to its end; no archive is written.", job->path);
    output->broken = true;
  } else if (job->result == COMPRESS_SHORT_INPUT) {
    MessagePrintf(FAILURE, "File %s shrank while it was archived; no archive is written.", job->path);
    output->broken = true;
  }
}

// Reads the job's file from its start into source.
void OpenMember(PackJob* job, FileReader* reader, uint8_t* buffer, std::atomic<int64_t>* counter,
                const Monitor* pipeline) {
  OpenReader(reader, job->input, buffer, STREAM_BUFFER);
  reader->counter = counter;
  reader->pipeline = pipeline;
  if (SeekInFile(job->input, 0) != 0) {
    reader->failed = true;
    reader->error = LastSystemError();
  }
}

void CloseMember(PackJob* job, const FileReader* reader) {
  if (reader->failed && !reader->source.abandoned) job->read_error = reader->error;
  CloseFileHandle(&job->input);
}

// Appends coded bytes to the task's chunks: the oldest task streams, a
// little ahead of the writer; the others wait within the pool's limit.
// Refuses them at the halt.
int AppendChunk(void* context, const uint8_t* bytes, size_t size) {
  Task* task = static_cast<Task*>(context);
  Packer* packer = task->owner->packer;
  Monitor* monitor = &packer->monitor;
  Ring* ring = &packer->ring;
  Held held(packer);
  while (size > 0) {
    auto room = [&] { return task->index == ring->oldest ? task->unwritten < OLDEST_LIMIT : !PoolFull(&packer->chunks); };
    if (!room()) WakeOne(monitor, WRITER);  // it writes while we wait
    if (!WaitUntil(monitor, ROOM, room)) return 1;
    Chunk* chunk = static_cast<Chunk*>(TakeBlock(&packer->chunks, true));
    if (!chunk) return 1;
    chunk->next = nullptr;
    chunk->size = size < CHUNK_BYTES ? size : CHUNK_BYTES;
    task->unwritten += chunk->size;
    Leave(monitor);
    memcpy(chunk->bytes(), bytes, chunk->size);
    Enter(monitor);
    bytes += chunk->size;
    size -= chunk->size;
    (task->last ? task->last->next : task->first) = chunk;
    task->last = chunk;
    // Only the oldest task's chunks can be written now, and the writer wants
    // them at once only when it waits for that task.
    if (task->index == ring->oldest && task->index == ring->awaited) WakeOne(monitor, WRITER);
  }
  return 0;
}

// Codes the task's oldest queued token block; no one else codes it
// meanwhile.
void CodeOneBlock(Packer* packer, Task* task, Worker* worker) {
  task->coder = worker;
  Worker* owner = task->owner;
  TokenBlock* block = &owner->blocks[task->consumed % TOKEN_QUEUE];
  Leave(&packer->monitor);
  CodeTokens(owner->coder, block);
  Enter(&packer->monitor);
  task->consumed++;
  task->coder = nullptr;
  WakeAll(&packer->monitor, MATCHER);
}

// What a worker codes a task's blocks for: room in its queue (the matcher),
// its end (the matcher, once all is found), or to help (another worker).
enum Coding { FOR_ROOM, FOR_END, TO_HELP };

bool Pending(const Task* task, int coding) {
  if (coding == FOR_ROOM) return task->produced - task->consumed == TOKEN_QUEUE;
  if (coding == FOR_END) return task->coder || task->consumed < task->produced;
  return task->owner && !task->coder && task->consumed < task->produced;
}

// Codes the task's queued blocks while they are pending, waiting while
// another worker codes one.
void CodeWhile(Packer* packer, Task* task, Worker* worker, int coding) {
  while (Pending(task, coding)) {
    if (task->coder) {
      WaitAs(&packer->monitor, MATCHER);
    } else {
      CodeOneBlock(packer, task, worker);
    }
  }
}

// Matches the task's member and sees it coded to its end.
void RunTask(Worker* worker, Task* task) {
  Packer* packer = worker->packer;
  Monitor* monitor = &packer->monitor;
  PackJob* job = &task->job;
  task->owner = worker;
  Leave(monitor);
  FileReader reader;
  OpenMember(job, &reader, worker->buffer, &task->read, monitor);
  StartMatching(worker->match, &reader.source, job->size, job->carry);
  StartCoding(worker->coder, AppendChunk, task);
  for (bool more = true; more;) {
    Enter(monitor);
    CodeWhile(packer, task, worker, FOR_ROOM);
    Leave(monitor);
    more = FindTokens(worker->match, &worker->blocks[task->produced % TOKEN_QUEUE]);
    Enter(monitor);
    task->produced++;
    // An idle worker codes while this one goes on matching; without one,
    // this one codes each block as it is found.
    if (monitor->waiting[IDLE] > 0 && more) {
      WakeOne(monitor, IDLE);
    } else if (!task->coder) {
      CodeOneBlock(packer, task, worker);
    }
    Leave(monitor);
  }
  Enter(monitor);
  CodeWhile(packer, task, worker, FOR_END);
  task->coder = worker;  // the end of its stream is this worker's
  Leave(monitor);
  job->coded_size = FinishCoding(worker->coder);
  job->result = InputCameShort(worker->match) ? COMPRESS_SHORT_INPUT : COMPRESS_OK;
  CloseMember(job, &reader);
  Enter(monitor);
  task->coder = task->owner = nullptr;
  MarkDone(&packer->ring, task->index);
}

// A task whose token blocks wait for a coder, if any.
Task* TaskToHelp(Packer* packer) {
  Ring* ring = &packer->ring;
  for (JobNumber n = ring->oldest; n != ring->taken; n++) {
    Task* task = static_cast<Task*>(JobAt(ring, n));
    if (Pending(task, TO_HELP)) return task;
  }
  return nullptr;
}

void WorkerLoop(void* context) {
  Worker* worker = static_cast<Worker*>(context);
  Packer* packer = worker->packer;
  Ring* ring = &packer->ring;
  Held held(packer);
  JobNumber n;
  Task* help = nullptr;
  while (WaitUntil(&packer->monitor, IDLE, [&] {
    return ring->taken != ring->published || (help = TaskToHelp(packer)) || packer->stopping;
  })) {
    if (TakeJob(ring, &n)) {
      Task* task = static_cast<Task*>(JobAt(ring, n));
      if (!IsDone(ring, n)) RunTask(worker, task);
    } else if (help) {
      CodeWhile(packer, help, worker, TO_HELP);
      help = nullptr;
    } else {
      return;
    }
  }
}

// The task whose end the writer waits for: the last unfinished one of the
// batch tasks from the oldest (which is unfinished).
JobNumber TaskToAwait(Ring* ring, int batch) {
  JobNumber awaited = ring->oldest;
  for (JobNumber n = awaited + 1; n != ring->published && n - ring->oldest < static_cast<JobNumber>(batch); n++) {
    if (!IsDone(ring, n)) awaited = n;
  }
  return awaited;
}

// At the halt: the oldest task's chunks go unwritten, and its file is
// closed where no worker took it.
void DropOldest(Packer* packer, Task* task) {
  if (!WaitDone(&packer->ring, task->index)) CloseFileHandle(&task->job.input);
  while (Chunk* chunk = task->first) {
    task->first = chunk->next;
    GiveBlock(&packer->chunks, chunk);
  }
  LetGo(&packer->ring);
}

// After a write: the first that failed halts the rest.
void Wrote(Packer* packer) {
  const FileWriter* writer = packer->output.writer;
  if (writer->failed) HaltHeld(&packer->monitor, HALT_WRITE, writer->error);
}

// How far the writer goes: until there is room for one more task (and it
// waits for a batch of them at a time), until the oldest task has nothing
// ready, or until every task is written.
enum Until { ROOM_FOR_ONE, NOTHING_READY, ALL_WRITTEN };

bool Reached(Packer* packer, int until) {
  Ring* ring = &packer->ring;
  if (until != NOTHING_READY) return until == ROOM_FOR_ONE && !RingFull(ring);
  Task* oldest = static_cast<Task*>(JobAt(ring, ring->oldest));
  return oldest->started && !oldest->first && !IsDone(ring, ring->oldest) && !Halted(&packer->monitor);
}

// Writes what the oldest tasks have ready; waits and writes until until is
// reached. A wait lasts until the batch'th task from the oldest is done.
void WriteReady(Packer* packer, int until) {
  Monitor* monitor = &packer->monitor;
  Ring* ring = &packer->ring;
  ArchiveOutput* output = &packer->output;
  int batch = until == ROOM_FOR_ONE ? WRITE_BATCH : 1;
  while (!Reached(packer, until) && ring->oldest != ring->published) {
    Task* task = static_cast<Task*>(JobAt(ring, ring->oldest));
    if (Halted(monitor)) {
      DropOldest(packer, task);
    } else if (!task->started) {
      task->started = true;
      Leave(monitor);
      WriteJobStart(output, &task->job);
      Enter(monitor);
      Wrote(packer);
    } else if (Chunk* chunk = task->first) {
      task->first = chunk->next;
      if (!task->first) task->last = nullptr;
      Leave(monitor);
      WriteBytes(output->writer, chunk->bytes(), chunk->size);
      // A big member shows how far its reading has come.
      ProgressUpdate(output->files_done, output->bytes_done + task->read.load(std::memory_order_relaxed));
      Enter(monitor);
      task->unwritten -= chunk->size;
      GiveBlock(&packer->chunks, chunk);
      Wrote(packer);
    } else if (IsDone(ring, ring->oldest)) {
      Leave(monitor);
      WriteJobEnd(output, &task->job);
      Enter(monitor);
      LetGo(ring);
      WakeAll(monitor, ROOM);  // a new oldest task may stream now
    } else {
      // While a worker waits for room, every end of the oldest task counts.
      ring->awaited = TaskToAwait(ring, monitor->waiting[ROOM] > 0 ? 1 : batch);
      WaitAs(monitor, WRITER);
      ring->awaited = ~JobNumber{0};
    }
  }
}

void FreeWorker(Worker* worker) {
  FreeMemory(worker->match);
  FreeMemory(worker->coder);
  FreeMemory(worker->blocks);
  FreeMemory(worker->buffer);
}

bool StartWorker(Packer* packer, Worker* worker) {
  worker->packer = packer;
  worker->match = NewMatchStage(AllocateMemory);
  worker->coder = NewCoderStage(AllocateMemory);
  worker->blocks = static_cast<TokenBlock*>(AllocateMemory(TOKEN_QUEUE * sizeof(TokenBlock)));
  worker->buffer = static_cast<uint8_t*>(AllocateMemory(STREAM_BUFFER));
  if (worker->match && worker->coder && worker->blocks && worker->buffer &&
      StartThread(&worker->thread, WorkerLoop, worker) == 0)
    return true;
  FreeWorker(worker);
  return false;
}

// Compresses the job on the calling thread, straight into the archive.
void PackHere(Packer* packer, PackJob* job) {
  ArchiveOutput* output = &packer->output;
  WriteJobStart(output, job);
  Wrote(packer);
  if (job->size != 0 && !Halted(&packer->monitor)) {
    FileReader reader;
    OpenMember(job, &reader, packer->buffer, nullptr, &packer->monitor);
    job->result = EncodeStream(packer->encoder, &reader.source, job->size, &job->carry, WriteToWriter,
                               output->writer, &job->coded_size);
    CloseMember(job, &reader);
    Wrote(packer);
  }
  CloseFileHandle(&job->input);
  if (!Halted(&packer->monitor)) WriteJobEnd(output, job);
}

// Frees what was made of the packer, whatever that was.
void FreePacker(Packer* packer) {
  FreeMemory(packer->encoder);
  FreeMemory(packer->buffer);
  FreePool(&packer->chunks);
  FreeRing(&packer->ring);
  DestroyMonitor(&packer->monitor);
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
  Monitor* monitor = &packer->monitor;
  ClearMonitor(monitor);
  InitPool(&packer->chunks, monitor, ROOM, sizeof(Chunk) + CHUNK_BYTES,
           limits->output_budget ? limits->output_budget : DEFAULT_BUDGET);
  int tasks = limits->tasks > 0 ? limits->tasks : DEFAULT_TASKS;
  int made = InitMonitor(monitor, 4) | InitRing(&packer->ring, monitor, WRITER, tasks, sizeof(Task));
  packer->encoder = NewEncoder(AllocateMemory);
  packer->buffer = static_cast<uint8_t*>(AllocateMemory(STREAM_BUFFER));
  if (made != 0 || !packer->encoder || !packer->buffer) {
    OutOfMemory("the packer");
    FreePacker(packer);
    return nullptr;
  }
  for (int i = 0; i < tasks; i++) new (JobAt(&packer->ring, i)) Task();
  int workers = limits->workers != 0 ? limits->workers : ProcessorCount();
  if (workers > MAX_WORKERS) workers = MAX_WORKERS;
  for (int i = 0; i < workers; i++) {  // none when below 0
    if (!StartWorker(packer, &packer->workers[packer->worker_count])) break;
    packer->worker_count++;
  }
  return packer;
}

PackJob* NextJob(Packer* packer) {
  Ring* ring = &packer->ring;
  Held held(packer);
  WriteReady(packer, ROOM_FOR_ONE);
  Task* task = static_cast<Task*>(ClaimJob(ring));
  ResetJob(&task->job);
  task->index = ring->newest - 1;
  task->owner = task->coder = nullptr;
  task->produced = task->consumed = 0;
  task->started = false;
  task->first = task->last = nullptr;
  task->unwritten = 0;
  task->read = 0;
  return &task->job;
}

void SubmitJob(Packer* packer, PackJob* job) {
  Task* task = reinterpret_cast<Task*>(job);
  Ring* ring = &packer->ring;
  if (packer->worker_count == 0) {
    PackHere(packer, job);
    Held held(packer);
    ring->published = ring->taken = ring->newest;
    LetGo(ring);
    return;
  }
  Held held(packer);
  ring->published = ring->newest;
  if (job->size == 0) {
    MarkDone(ring, task->index);
  } else {
    WakeOne(&packer->monitor, IDLE);
  }
  WriteReady(packer, NOTHING_READY);  // without waiting for anything
}

bool PackerBroken(const Packer* packer) { return packer->output.broken || Halted(&packer->monitor); }

ArchiveOutput FinishPacker(Packer* packer) {
  {
    Held held(packer);
    WriteReady(packer, ALL_WRITTEN);
    packer->stopping = true;
    WakeAll(&packer->monitor, IDLE);
  }
  for (int i = 0; i < packer->worker_count; i++) {
    JoinThread(&packer->workers[i].thread);
    FreeWorker(&packer->workers[i]);
  }
  ArchiveOutput output = packer->output;
  if (packer->monitor.halt == HALT_MEMORY) {
    OutOfMemory("the packed members");
    output.broken = true;
  }
  FreePacker(packer);
  return output;
}
