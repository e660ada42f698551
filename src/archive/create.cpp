// Packing a directory tree into an archive, depth first, each directory's
// record before its contents. The walk decides everything about the
// archive's bytes in order: the records, and for each file its size and
// the carry it starts from, which follows from the files before it alone.
// A packer compresses the files and writes the archive (archive/pack.h);
// messages are shown as their stretch of the archive is written, so they
// come in the order of the walk.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/archive.h"
#include "archive/pack.h"
#include "codec/codec.h"
#include "codec/encoder.h"
#include "fileutil/paths.h"
#include "fileutil/dirscan.h"
#include "fileutil/fsops.h"
#include "fileutil/longpath.h"
#include "fileutil/visit.h"

namespace {

struct Walk {
  Packer* packer;
  PackJob* job;       // the stretch being filled
  WindowCarry carry;  // what the files so far leave for the next
};

// Hands the stretch on and starts the next.
void HandOn(Walk* walk) {
  SubmitJob(walk->packer, walk->job);
  walk->job = NextJob(walk->packer);
}

void AddText(Walk* walk, const void* bytes, size_t size) {
  if (walk->job->text_size > JOB_TEXT_LIMIT) HandOn(walk);
  memcpy(walk->job->text + walk->job->text_size, bytes, size);
  walk->job->text_size += size;
}

void AddNote(Walk* walk, char kind, const char* format, ...) {
  if (walk->job->notes_size > JOB_NOTES_LIMIT) HandOn(walk);
  char* note = walk->job->notes + walk->job->notes_size;
  note[0] = kind;
  va_list args;
  va_start(args, format);
  int length = FormatText(note + 1, format, args);
  va_end(args);
  walk->job->notes_size += static_cast<size_t>(length) + 2;
}

void AddFailure(Walk* walk, int result) {
  if (walk->job->failure == 0) walk->job->failure = result;
}

void WriteWord(Walk* walk, uint16_t word) {
  uint8_t bytes[2] = {static_cast<uint8_t>(word & 0xff), static_cast<uint8_t>(word >> 8)};
  AddText(walk, bytes, 2);
}

void WriteRecord(Walk* walk, uint16_t attributes, const char* name) {
  WriteWord(walk, attributes);
  AddText(walk, name, strlen(name) + 1);
}

// An empty file's coded stream: size 0 and the end mark.
void WriteEmptyStream(Walk* walk, const char* name) {
  static const unsigned char empty[6] = {0, 0, 0, 0, 0x00, 0xFF};
  AddText(walk, empty, sizeof empty);
  AddNote(walk, NOTE_EMPTY, "%s", name);
}

void ArchiveFile(Walk* walk, const DirEntry& entry) {
  WriteRecord(walk, entry.attributes, entry.name);
  AddNote(walk, NOTE_STATUS, "Compressing %s...", entry.name);
  FILE* input = OpenRegularFile(entry.name);
  if (!input) {
    AddNote(walk, NOTE_MESSAGE, "Cannot open file %s; it is archived empty.", entry.name);
    WriteEmptyStream(walk, entry.name);
    AddFailure(walk, 1);
    return;
  }
  setvbuf(input, nullptr, _IOFBF, STREAM_BUFFER);
  if (IsArchiveItself(walk->packer, input)) {
    // It holds what was written before it, its own record included.
    HandOn(walk);
    DrainPacker(walk->packer);
  }
  uint32_t size;
  if (TakeInputSize(input, &size) != COMPRESS_OK) {
    fclose(input);
    AddNote(walk, NOTE_MESSAGE, "Cannot read file %s; it is archived empty.", entry.name);
    WriteEmptyStream(walk, entry.name);
    AddFailure(walk, 1);
    return;
  }
  if (size == 0) {
    fclose(input);
    WriteEmptyStream(walk, entry.name);
    return;
  }
  PackJob* job = walk->job;
  job->carry = walk->carry;
  AdvanceCarryOver(&walk->carry, input, size);
  job->input = input;
  job->size = size;
  snprintf(job->name, sizeof job->name, "%s", entry.name);
  HandOn(walk);
}

int ArchiveLevel(Walk* walk, const char* path);

void ArchiveEntry(Walk* walk, const DirEntry& entry) {
  const char* name = entry.name;
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return;
  if (entry.attributes & ATTR_DIRECTORY) {
    // Following a link could leave the tree or recurse without end.
    if (IsDirectoryLink(name)) {
      AddNote(walk, NOTE_MESSAGE, "Directory link %s is not followed; it is left out of the archive.", name);
      AddFailure(walk, 1);
      return;
    }
    WriteRecord(walk, entry.attributes, name);
    if (settings.verbose) AddNote(walk, NOTE_MESSAGE, "Archiving directory %s", name);
    if (ArchiveLevel(walk, name) != 0) {
      AddNote(walk, NOTE_MESSAGE, "Cannot enter directory %s; it is archived empty.", name);
      WriteWord(walk, END_OF_LEVEL);
      AddFailure(walk, -1);
    }
    return;
  }
  if (entry.size_high != 0) {
    // The coded stream's size header holds 32 bits.
    AddNote(walk, NOTE_MESSAGE, "File %s is 4 GiB or larger; it is left out of the archive.", name);
    AddFailure(walk, 1);
    return;
  }
  ArchiveFile(walk, entry);
}

int ArchiveLevel(Walk* walk, const char* path) {
  DirectoryVisit visit;
  int entered = EnterLevel(path, &visit);
  if (entered != 0) return entered;
  if (settings.verbose) {
    char current[PATH_SIZE];
    if (ReadCurrentDir(current, PATH_SIZE) == 0) current[0] = '\0';
    AddNote(walk, NOTE_MESSAGE, "Current dir: %s", current);
  }
  DirSearch search;
  for (int found = FindFirstEntry("*.*", 0x16, &search); found == 0; found = FindNextEntry(&search)) {
    ArchiveEntry(walk, search.entry);
    free(search.entry.name);
  }
  CloseSearch(&search);
  WriteWord(walk, END_OF_LEVEL);
  LeaveLevel(&visit);
  return 0;
}

// Counts the files below the current directory and their bytes, as the
// walk will meet them, for the progress.
void CountLevel(const char* path, int64_t* files, int64_t* bytes) {
  DirectoryVisit visit;
  if (EnterLevel(path, &visit) != 0) return;
  DirSearch search;
  for (int found = FindFirstEntry("*.*", 0x16, &search); found == 0; found = FindNextEntry(&search)) {
    const DirEntry& entry = search.entry;
    if (!(entry.attributes & ATTR_DIRECTORY)) {
      if (entry.size_high == 0) {  // larger ones are left out
        *files += 1;
        *bytes += entry.size_low;
      }
    } else if (strcmp(entry.name, ".") != 0 && strcmp(entry.name, "..") != 0 &&
               !IsDirectoryLink(entry.name)) {
      CountLevel(entry.name, files, bytes);
    }
    free(entry.name);
  }
  CloseSearch(&search);
  LeaveLevel(&visit);
}

}  // namespace

int CreateArchive(const char* archive_path, const char* directory_path, int workers) {
  char full[PATH_SIZE] = "";
  if (FullLongPath(directory_path, full, PATH_SIZE) == 0 || !full[0]) {
    MessagePrintf("Path %s invalid.", directory_path);
    return 1;
  }
  FILE* archive = fopen(archive_path, "wb");
  if (!archive) {
    MessagePrintf("Failed to create archive %s.", archive_path);
    return 1;
  }
  setvbuf(archive, nullptr, _IOFBF, STREAM_BUFFER);
  fwrite("ZQAR\0\0\0\0", 1, 8, archive);
  ArchiveOutput output = {archive, StatusPrintf(nullptr, "Please wait..."), 0, 0, 0};
  if (ProgressWanted()) {
    int64_t files = 0, bytes = 0;
    CountLevel(full, &files, &bytes);
    ProgressBegin(nullptr, files, bytes);
  }
  Packer* packer = StartPacker(output, workers);
  int result = 1;
  if (packer) {
    // Every archive starts from the carry of a fresh process, so that its
    // bytes do not depend on what the process did before.
    Walk walk = {packer, NextJob(packer), {}};
    result = ArchiveLevel(&walk, full);
    SubmitJob(packer, walk.job);
    output = FinishPacker(packer);
    if (result == 0) result = output.failure;
  } else {
    MessagePrintf("Not enough memory to create archive %s.", archive_path);
  }
  StatusClose(&output.window);
  int write_failed = ferror(archive);
  if (fclose(archive) != 0) write_failed = 1;
  if (write_failed) {
    MessagePrintf("Failed to write archive %s.", archive_path);
    if (result == 0) result = 1;
  }
  if (settings.verbose && result == 0) MessagePrintf("Archive %s complete.", archive_path);
  return result;
}
