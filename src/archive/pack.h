// Packing the members of an archive: the walk of archive creation fills
// jobs in archive order, and a packer compresses them and writes the
// archive in that order. The Linux packer compresses on worker threads
// (pack_posix.cpp), the Windows one on the calling thread (pack_win32.cpp);
// either way every member starts from the carry of the member before it,
// so the bytes are those of packing one member after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "codec/codec.h"
#include "ui/messages.h"

// Bytes of records and markers, and of notes, that one job gathers before
// the walk hands it on; one record or note more always fits.
const size_t JOB_TEXT_LIMIT = 8192;
const size_t JOB_NOTES_LIMIT = 4096;

// A note is shown when its job is written: a message, the status text, or
// the name of a file member archived empty.
const char NOTE_MESSAGE = 'M';
const char NOTE_STATUS = 'S';
const char NOTE_EMPTY = 'E';

// A stretch of the archive: member records and end-of-level markers, the
// notes that go with them, and at most one coded stream after them.
struct PackJob {
  size_t text_size;
  size_t notes_size;
  int failure;        // the first failure the walk met in this stretch, or 0
  FILE* input;        // the file whose coded stream ends the stretch, or null
  uint32_t size;      // its size, as the size header says; a stream follows when not 0
  WindowCarry carry;  // the carry its compression starts from
  int result;         // of its compression: COMPRESS_OK or COMPRESS_SHORT_INPUT
  uint32_t coded_size;
  char name[PATH_SIZE];
  char text[JOB_TEXT_LIMIT + 2 * PATH_SIZE];
  char notes[JOB_NOTES_LIMIT + MESSAGE_BUFFER_SIZE + 1];  // kind, text and zero, one after another
};

void ResetJob(PackJob* job);

// The archive being written, and the first failure of a member.
struct ArchiveOutput {
  FILE* archive;
  StatusWindow window;
  int failure;
  int64_t files_done;  // for the progress: files and their bytes written
  int64_t bytes_done;
};

void NoteFailure(ArchiveOutput* output, int result);
// Writes the job's records and markers, shows its notes and, when a stream
// follows, writes its size header.
void WriteJobStart(ArchiveOutput* output, const PackJob* job);
// After the job's stream: its statistics, the progress, and what went
// wrong with it.
void WriteJobEnd(ArchiveOutput* output, const PackJob* job);
// A ByteSink that appends to the archive (context: ArchiveOutput).
void WriteToArchive(void* context, const uint8_t* bytes, size_t size);

struct Packer;

// Starts packing into output's archive. workers: the threads to compress
// on, 0 for one per processor, where the platform packs on threads. Null
// when memory runs out.
Packer* StartPacker(const ArchiveOutput& output, int workers);
// A cleared job for the walk to fill; may wait for earlier jobs to be
// written, so that only a bounded number are ever in flight.
PackJob* NextJob(Packer* packer);
// Hands the filled job on, in archive order; the packer closes its input.
void SubmitJob(Packer* packer, PackJob* job);
// Whether input is the very archive being written.
bool IsArchiveItself(Packer* packer, FILE* input);
// Writes every job handed on so far, and flushes the archive.
void DrainPacker(Packer* packer);
// Drains and ends the packer: the output with the failures of all members.
ArchiveOutput FinishPacker(Packer* packer);
