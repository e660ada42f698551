// The file-system side of extraction: while the calling thread decodes the
// next members, worker threads create the files of those decoded before
// and write them. The caller hands each member's bytes in archive order and
// learns the outcomes in the same order, on its own thread, so that what it
// tells keeps the archive's order. Memory is bounded by a number of members
// in flight and a budget of bytes not yet written (WorkLimits). Where no
// thread can be started, the calling thread writes each block as it is
// handed on.
//
// Every member is written under a temporary name beside its own and takes
// its name only when it is whole and closed: a member cut off by damage, a
// failed write or an interrupt never replaces what stood under its name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive.h"
#include "os/fsops.h"
#include "os/pipeline.h"

struct Unpacker;

// What became of a member, told in archive order.
struct MemberOutcome {
  const char* path;  // below the root, as the caller named it
  uint64_t size;
  bool sound;        // all of its stream was decoded, as the caller said
  int create_error;  // 0, or the system's code: it could not be created
  int write_error;   // 0, or the system's code: it could not be written whole
  void* tag;         // the caller's, given with the member
};
typedef void (*OutcomeVisitor)(void* context, const MemberOutcome& outcome);

// Null when its memory could not be had (told).
Unpacker* StartUnpacker(const WorkLimits* limits, OutcomeVisitor visit, void* context);
// Writes what was handed on, tells every outcome, ends the threads: 0, or
// why it halted (HALT_WRITE, HALT_MEMORY, HALT_STOP).
int FinishUnpacker(Unpacker* unpacker);
// A write failed or memory ran out (told with the member's outcome, or
// here), or the run stops: nothing more is written.
bool UnpackerHalted(const Unpacker* unpacker);

// A new member name in dir, which stays open until its outcome is told.
// Waits, telling outcomes, while the members in flight are at their limit
// or while one of them has the same name in dir.
void BeginMember(Unpacker* unpacker, const Directory* dir, const char* name, const char* path, void* tag);
// The codec's sink for the member begun last (context: the unpacker): 0, or
// 1 when no memory could be had for its bytes (told; the run then stops,
// with the caller's result 1), or at the halt.
int AppendToMember(void* unpacker, const uint8_t* bytes, size_t size);
// The member begun last is complete (sound) or cut off; its bytes go on to
// be written, or are dropped.
void EndMember(Unpacker* unpacker, bool sound);
// Tells the outcomes of the members already written, without waiting.
void TellWritten(Unpacker* unpacker);
// Tells every outcome before anything else is told or done under a name
// that a member in flight may have: waits until all are written.
void CatchUp(Unpacker* unpacker);
// As CatchUp, only where a member in flight has name in dir.
void CatchUpWith(Unpacker* unpacker, const Directory* dir, const char* name);
