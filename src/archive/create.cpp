// Packing a directory tree into an archive, depth first, each directory's
// record before its contents. The walk decides everything about the
// archive's bytes in order: the records, and for each file its size and
// the carry it starts from, which follows from the files before it alone.
// The packer compresses the files and writes the archive (archive/pack.h);
// messages are shown as their stretch of the archive is written, so they
// come in the order of the walk.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "archive/check.h"
#include "archive/names.h"
#include "archive/pack.h"
#include "base/text.h"
#include "codec/encoder.h"
#include "files/output.h"
#include "os/dirscan.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/memory.h"

namespace {

// The walk's result when it stopped before its end: the run's stop, or an
// archive that can no longer be written.
const int WALK_STOPPED = 2;

struct Walk {
  Packer* packer;
  PackJob* job;       // the stretch being filled
  WindowCarry carry;  // what the files so far leave for the next
  FileWriter* writer;
  FileIdentity archive;  // the archive being written, and what stood under its name
  FileIdentity old_archive;
  bool has_old_archive;
  const char* archive_path;
  const NameCoding* names;  // how names are stored
};

// One directory of the walk.
struct Level {
  Walk* walk;
  const Directory* dir;
};

// The run's stop, an archive that can no longer be written, or a member
// that could not be read whole: the walk goes no further.
bool Stopped(const Walk* walk) {
  return StopRequested() != 0 || walk->writer->failed || PackerBroken(walk->packer);
}

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

__attribute__((format(printf, 3, 4))) void AddNote(Walk* walk, char kind, const char* format, ...) {
  if (walk->job->notes_size > JOB_NOTES_LIMIT) HandOn(walk);
  char* note = walk->job->notes + walk->job->notes_size;
  note[0] = kind;
  va_list args;
  va_start(args, format);
  int length = FormatText(note + 1, format, args);
  va_end(args);
  walk->job->notes_size += static_cast<size_t>(length) + 2;
}

// The report of a failed action on path, with the system's reason for the
// last failure, shown when its turn comes.
void AddFailureNote(Walk* walk, const char* action, const char* path) {
  char text[MESSAGE_BUFFER_SIZE];
  ComposeFailure(text, action, path, LastSystemError(), REASON_AFTER);
  AddNote(walk, NOTE_FAILURE, "%s", text);
}

void AddFailure(Walk* walk, int result) {
  if (walk->job->failure == 0) walk->job->failure = result;
}

void WriteWord(Walk* walk, uint16_t word) {
  uint8_t bytes[2] = {static_cast<uint8_t>(word & 0xff), static_cast<uint8_t>(word >> 8)};
  AddText(walk, bytes, 2);
}

// The name in the archive's code page; every name here has passed LeftOut.
void WriteRecord(Walk* walk, uint16_t attributes, const char* name) {
  char stored[PATH_SIZE], why[8];
  const char* written = NameToArchive(walk->names, name, stored, PATH_SIZE, why, sizeof why);
  if (!written) written = name;
  WriteWord(walk, attributes);
  AddText(walk, written, strlen(written) + 1);
}

// A name that would not come back as it is, on Windows or through the code
// page, is left out before its record is written.
bool LeftOut(Walk* walk, const char* name, const char* path) {
  char stored[PATH_SIZE], why[160];
  if (NameToArchive(walk->names, name, stored, PATH_SIZE, why, sizeof why)) return false;
  AddNote(walk, NOTE_WARNING, "%s is left out of the archive: %s.", path, why);
  AddFailure(walk, 1);
  return true;
}

// An empty file's coded stream: size 0 and the end mark.
void WriteEmptyStream(Walk* walk, const char* path) {
  static const unsigned char empty[6] = {0, 0, 0, 0, 0x00, 0xFF};
  AddText(walk, empty, sizeof empty);
  AddNote(walk, NOTE_EMPTY, "%s", path);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.index == b.index;
}

bool IsTheArchive(const Walk* walk, FileHandle file) {
  FileIdentity identity;
  return IdentifyFile(file, &identity) == 0 &&
         (SameFile(identity, walk->archive) || (walk->has_old_archive && SameFile(identity, walk->old_archive)));
}

// A file goes in only when it can be read: what cannot is left out before
// its record, so that the archive never holds a member that would unpack
// as something else (an empty file in place of a real one).
void ArchiveFile(Walk* walk, const Directory* dir, const DirEntry& entry, const char* path) {
  FileHandle file;
  if (OpenFileAt(dir, entry.name, ACCESS_READ, &file) != 0) {
    AddFailureNote(walk, "Cannot read file %s; it is left out of the archive.", path);
    AddFailure(walk, 1);
    return;
  }
  if (IsTheArchive(walk, file)) {
    CloseFileHandle(&file);
    AddNote(walk, NOTE_WARNING, "%s is the archive being written; it is left out of it.", walk->archive_path);
    return;
  }
  int64_t size = -1;
  SizeOfFile(file, &size);  // a size it cannot tell stays -1
  if (size < 0 || size > 0xFFFFFFFF) {
    if (size < 0)
      AddFailureNote(walk, "Cannot read file %s; it is left out of the archive.", path);
    else
      AddNote(walk, NOTE_WARNING, "File %s is 4 GiB or larger; it is left out of the archive.", path);
    CloseFileHandle(&file);
    AddFailure(walk, 1);
    return;
  }
  WriteRecord(walk, entry.attributes, entry.name);
  if (size == 0) {
    CloseFileHandle(&file);
    WriteEmptyStream(walk, path);
    return;
  }
  AddNote(walk, NOTE_STATUS, "Compressing %s...", entry.name);
  // Those of its last bytes that cannot be read count as zeros here; the
  // compression then finds the failure, and no archive is written.
  uint8_t tail[4096];
  ReadTail(file, (uint64_t)size, tail);
  PackJob* job = walk->job;
  job->carry = walk->carry;
  AdvanceCarry(&walk->carry, tail, (uint64_t)size);
  job->input = file;
  job->size = (uint32_t)size;
  snprintf(job->path, sizeof job->path, "%s", path);
  HandOn(walk);
}

int ArchiveLevel(Walk* walk, const Directory* dir);

int ArchiveEntry(const DirEntry& entry, void* context) {
  Level* level = static_cast<Level*>(context);
  Walk* walk = level->walk;
  if (Stopped(walk)) return WALK_STOPPED;
  char path[PATH_SIZE];
  JoinPathBelow(level->dir, entry.name, path, PATH_SIZE);
  if (LeftOut(walk, entry.name, path)) return 0;
  if (!(entry.attributes & ATTR_DIRECTORY)) {
    if (entry.size_high != 0) {
      // The coded stream's size header holds 32 bits.
      AddNote(walk, NOTE_WARNING, "File %s is 4 GiB or larger; it is left out of the archive.", path);
      AddFailure(walk, 1);
      return 0;
    }
    ArchiveFile(walk, level->dir, entry, path);
    return 0;
  }
  // Following a link could leave the tree or recurse without end.
  Directory sub;
  int opened = OpenSubdirectory(level->dir, entry.name, &sub);
  if (opened != 0 && LastSystemError() == ERROR_NOT_OWN_DIRECTORY) {
    AddNote(walk, NOTE_WARNING, "Directory link %s is not followed; it is left out of the archive.", path);
    AddFailure(walk, 1);
    return 0;
  }
  WriteRecord(walk, entry.attributes, entry.name);
  if (opened != 0) {
    AddFailureNote(walk, "Cannot enter directory %s; it is archived empty.", path);
    WriteWord(walk, END_OF_LEVEL);
    AddFailure(walk, -1);
    return 0;
  }
  if (Heard(VERBOSE)) AddNote(walk, NOTE_VERBOSE, "Archiving directory %s", path);
  int result = ArchiveLevel(walk, &sub);
  CloseDirectory(&sub);
  return result;
}

// The level of dir: its entries and the end-of-level marker.
int ArchiveLevel(Walk* walk, const Directory* dir) {
  // A verbose note is not even composed without -v.
  if (Heard(VERBOSE)) {
    char current[PATH_SIZE];
    JoinPath(dir, nullptr, current, PATH_SIZE);
    AddNote(walk, NOTE_VERBOSE, "Current dir: %s", current);
  }
  Level level = {walk, dir};
  int result = ForEachEntry(dir, MASK_ALL, ArchiveEntry, &level);
  if (result == WALK_STOPPED) return result;
  if (result != 0) {
    char current[PATH_SIZE];
    JoinPath(dir, nullptr, current, PATH_SIZE);
    AddFailureNote(walk, "Cannot list directory %s; what is left of it is not archived.", current);
    AddFailure(walk, -1);
  }
  WriteWord(walk, END_OF_LEVEL);
  return 0;
}

// The files below dir and their bytes, as the walk will meet them, for the
// progress.
struct Count {
  const Directory* dir;
  int64_t files;
  int64_t bytes;
};

int CountEntry(const DirEntry& entry, void* context) {
  Count* count = static_cast<Count*>(context);
  if (!(entry.attributes & ATTR_DIRECTORY)) {
    if (entry.size_high == 0) {  // larger ones are left out
      count->files += 1;
      count->bytes += entry.size_low;
    }
    return 0;
  }
  Directory sub;
  if (OpenSubdirectory(count->dir, entry.name, &sub) != 0) return 0;
  Count inner = {&sub, 0, 0};
  ForEachEntry(&sub, MASK_ALL, CountEntry, &inner);
  CloseDirectory(&sub);
  count->files += inner.files;
  count->bytes += inner.bytes;
  return 0;
}

// Opens the tree to pack: 0, or the result to end with after a message.
int OpenTree(const char* directory_path, Directory* tree) {
  char full[PATH_SIZE] = "";
  if (FullLongPath(directory_path, full, PATH_SIZE) != 0) {
    ReportFailure("Path %s invalid.", directory_path);
    return 1;
  }
  if (OpenDirectory(full, tree) == 0) return 0;
  int code = LastSystemError();
  if (FileExists(full)) {
    MessagePrintf(FAILURE, "Path %s is a file, not a directory; nothing is archived.", directory_path);
    return 1;
  }
  SetSystemError(code);
  ReportFailure("Cannot enter directory %s.", full);
  return -1;
}

// Writes the archive's header and every level into output: the walk's
// result, or the packer's failures.
int WriteArchive(const Directory* tree, OutputFile* output, FileWriter* writer, const WorkLimits* limits,
                 const NameCoding* names, bool* broken) {
  Walk walk = {};
  walk.names = names;
  walk.writer = writer;
  walk.archive_path = output->path;
  // Without its identity the archive could not be told from the files of
  // the tree, and might be packed into itself.
  if (IdentifyFile(output->file, &walk.archive) != 0) {
    ReportFailure("Failed to create archive %s.", output->path);
    *broken = true;
    return 1;
  }
  FileHandle old;
  if (OpenFileAt(nullptr, output->path, ACCESS_READ, &old) == 0) {
    walk.has_old_archive = IdentifyFile(old, &walk.old_archive) == 0;
    CloseFileHandle(&old);
  }
  WriteBytes(writer, "ZQAR\0\0\0\0", 8);
  ArchiveOutput packing = {writer, StatusPrintf(nullptr, "Please wait..."), 0, false, 0, 0};
  if (ProgressWanted()) {
    // What cannot be counted only leaves the totals short; the walk itself
    // names what it cannot read.
    Count count = {tree, 0, 0};
    ForEachEntry(tree, MASK_ALL, CountEntry, &count);
    ProgressBegin(nullptr, count.files, count.bytes);
  }
  walk.packer = StartPacker(packing, limits);
  int result = 1;
  *broken = !walk.packer;
  if (walk.packer) {
    // Every archive starts from the carry of a fresh process, so that its
    // bytes do not depend on what the process did before.
    walk.job = NextJob(walk.packer);
    result = ArchiveLevel(&walk, tree);
    SubmitJob(walk.packer, walk.job);
    packing = FinishPacker(walk.packer);
    if (result == 0) result = packing.failure;
    *broken = packing.broken;
  }
  StatusClose(&packing.window);
  ProgressEnd();
  return result;
}

// Seals the archive written so far with its check record, from its bytes
// as they stand in the file: 0, or -1 (the system's code set).
int AddCheckRecord(const OutputFile* output, FileWriter* writer) {
  FileHolder written;
  uint8_t buffer[16384];
  int64_t size = -1;
  if (OpenFileAt(nullptr, output->temporary, ACCESS_READ, &written.file) == 0) SizeOfFile(written.file, &size);
  if (size < 0 || WriteCheckRecord(written.file, size, writer, buffer, sizeof buffer) != 0) return -1;
  return FlushWriter(writer);
}

}  // namespace

int CreateArchive(const char* archive_path, const char* directory_path, const WorkLimits* limits) {
  NameCoding names;
  if (OpenNameCoding(settings.code_page, &names) != 0) return 1;
  Directory tree;
  int opened = OpenTree(directory_path, &tree);
  if (opened != 0) return opened;
  OutputFile output;
  if (CreateOutput(archive_path, &output) != 0) {
    CloseDirectory(&tree);
    ReportFailure("Failed to create archive %s.", archive_path);
    return 1;
  }
  uint8_t* buffer = static_cast<uint8_t*>(AllocateMemory(STREAM_BUFFER));
  int result = 1;
  bool broken = !buffer;
  if (buffer) {
    FileWriter writer;
    OpenWriter(&writer, output.file, buffer, STREAM_BUFFER);
    result = WriteArchive(&tree, &output, &writer, limits, &names, &broken);
    // A write that failed, whenever it did, is told here, once.
    if (!broken && !StopRequested() && (FlushWriter(&writer) != 0 || AddCheckRecord(&output, &writer) != 0)) {
      ReportFailure("Failed to write archive %s.", archive_path);
      broken = true;
    }
    FreeMemory(buffer);
  } else {
    OutOfMemory("the archive's buffer");
  }
  CloseDirectory(&tree);
  if (broken || StopRequested()) {
    AbandonOutput(&output);
    if (Interrupted()) MessagePrintf(WARNING, "Interrupted; the unfinished archive %s is removed.", archive_path);
    return 1;
  }
  if (CommitOutput(&output) != 0) {
    ReportFailure("Failed to write archive %s.", archive_path);
    return 1;
  }
  return result;
}
