// Packing the members of an archive: the walk of archive creation fills
// jobs in archive order, and the packer compresses them, on worker threads
// where it can start them and on the calling thread where it cannot, and
// writes the archive in that order. Every member starts from the carry of
// the member before it, so the bytes are those of packing one member after
// another, whatever the threads and their timing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive.h"
#include "archive/streams.h"
#include "codec/codec.h"
#include "ui/messages.h"

// Bytes of records and markers, and of notes, that one job gathers before
// the walk hands it on; one record or note more always fits.
const size_t JOB_TEXT_LIMIT = 8192;
const size_t JOB_NOTES_LIMIT = 4096;

// A note is shown when its job is written: a message of a kind, the status
// text, or the path of a file member archived empty.
const char NOTE_WARNING = 'W';
const char NOTE_FAILURE = 'F';
const char NOTE_VERBOSE = 'V';
const char NOTE_STATUS = 'S';
const char NOTE_EMPTY = 'E';

// A stretch of the archive: member records and end-of-level markers, the
// notes that go with them, and at most one coded stream after them.
struct PackJob {
  size_t text_size;
  size_t notes_size;
  int failure;        // the first failure the walk met in this stretch, or 0
  FileHandle input;   // the file whose coded stream ends the stretch, or NO_FILE
  uint32_t size;      // its size, as the size header says; a stream follows when not 0
  WindowCarry carry;  // the carry its compression starts from
  int result;         // of its compression: COMPRESS_OK or COMPRESS_SHORT_INPUT
  int read_error;     // the system's code when its file could not be read, or 0
  uint32_t coded_size;
  char path[PATH_SIZE];  // below the tree's root, for messages
  char text[JOB_TEXT_LIMIT + 2 * PATH_SIZE];
  char notes[JOB_NOTES_LIMIT + MESSAGE_BUFFER_SIZE + 1];  // kind, text and zero, one after another
};

// The archive being written, and the first failure of a member.
struct ArchiveOutput {
  FileWriter* writer;
  StatusWindow window;
  int failure;
  bool broken;         // memory ran out, or a member could not be read whole: no archive
  int64_t files_done;  // for the progress: files and their bytes written
  int64_t bytes_done;
};

struct Packer;

// Starts packing into output's archive within limits (null: one worker a
// processor, the default tasks and budget). Null when memory runs out,
// after a message.
Packer* StartPacker(const ArchiveOutput& output, const WorkLimits* limits);
// A cleared job for the walk to fill; may wait for earlier jobs to be
// written, so that only a bounded number are ever in flight.
PackJob* NextJob(Packer* packer);
// Hands the filled job on, in archive order; the packer closes its input.
void SubmitJob(Packer* packer, PackJob* job);
// A member could not be packed whole (told): the archive cannot be
// completed. Only the calling thread's view.
bool PackerBroken(const Packer* packer);
// Drains and ends the packer: the output with the failures of all members.
ArchiveOutput FinishPacker(Packer* packer);
