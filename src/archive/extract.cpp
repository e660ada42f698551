// Unpacking an archive into a directory tree, listing it, and testing it.
// The archive is untrusted: a member name must be a bare name, damage stops
// the extraction with a message, and a failed member never passes for a
// written one. So is what the tree below the target holds already: a link
// there is never followed.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "archive/check.h"
#include "archive/lookahead.h"
#include "archive/names.h"
#include "archive/report.h"
#include "archive/streams.h"
#include "archive/unpack.h"
#include "base/text.h"
#include "codec/codec.h"
#include "os/dirscan.h"
#include "os/fsops.h"
#include "os/memory.h"
#include "os/platform.h"
#include "ui/messages.h"

namespace {

// Results of reading a level; all but DONE end every enclosing level at once.
const int LEVEL_DONE = 0;
const int LEVEL_DAMAGED = 3;
const int LEVEL_READ_FAILED = 5;
const int LEVEL_STOPPED = 6;

// The blocks the archive is read in while members are decoded ahead.
const size_t AHEAD_BLOCK = size_t{1} << 20;

// Deeper nesting than any tree within the path limit can hold.
const int MAX_DEPTH = 256;

// What is done with the members read.
enum Mode { MODE_EXTRACT, MODE_LIST, MODE_READ };

// A directory being filled, open while a member in it is in flight.
struct HeldDirectory {
  Directory dir;
  HeldDirectory* parent;
  int uses;  // its level, its members in flight, its subdirectories
};

struct Extraction {
  FileReader reader;  // the archive
  Decoder* decoder;
  Unpacker* unpacker;  // writes the files; null when nothing is written
  Lookahead* lookahead;  // decodes ahead; may be null
  WindowCarry carry;  // what each member leaves for the next
  StatusWindow window;
  const char* damage;   // what was wrong, when the archive is damaged
  int members_failed;   // members that could not be written
  int levels_skipped;   // directories that could not be made or entered
  int depth;
  int64_t files_done;   // for the progress, beside the archive's position
  int64_t size;         // of the archive file
  int64_t covered;      // the bytes its check record covers, or -1 without one
  int64_t scanned_end;  // where the top level ended when it was read before, or -1
  int read_error;       // the system's code, when the archive could not be read
  char reason[128];     // what was wrong, when it was worded here
  NameCoding names;     // how the stored names read here
};

int Damaged(Extraction* x, const char* what) {
  x->damage = what;
  return LEVEL_DAMAGED;
}

int DamagedBy(Extraction* x, const char* format, int64_t value, int64_t more = 0) {
  snprintf(x->reason, sizeof x->reason, format, value, more);
  return Damaged(x, x->reason);
}

int ReadFailed(Extraction* x, int code) {
  x->read_error = code;
  return LEVEL_READ_FAILED;
}

// The archive ended where it did: because it could not be read, because
// the run stops, or (damage) because it is cut off.
int EndedEarly(Extraction* x, const char* damage) {
  if (x->reader.failed) return ReadFailed(x, x->reader.error);
  if (x->reader.source.abandoned) return LEVEL_STOPPED;
  return Damaged(x, damage);
}

int NextByte(Extraction* x) { return ReadByte(&x->reader.source); }

// Reads a member's attribute word: 1 read, 0 the level is over (its end
// marker, or the archive ends cleanly here), else the level's result.
int ReadWord(Extraction* x, uint16_t* word) {
  int low = NextByte(x);
  // Every level ends with its marker: an archive cut at a member's end is
  // cut all the same.
  if (low == EOF) return EndedEarly(x, "it ends before its last end-of-level marker");
  int high = NextByte(x);
  if (high == EOF) return EndedEarly(x, "it ends inside a member record");
  *word = (uint16_t)(low | (high << 8));
  return *word == END_OF_LEVEL ? 0 : 1;
}

int ReadName(Extraction* x, char* name) {
  for (int i = 0; i < PATH_SIZE; ++i) {
    int c = NextByte(x);
    if (c == EOF) return EndedEarly(x, "it ends inside a member name");
    name[i] = (char)c;
    if (c == 0) return 0;
  }
  return Damaged(x, "a member name is longer than 259 bytes");
}

// Only a bare name stays inside the directory of its level.
bool IsSafeName(const char* name) {
  return name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strpbrk(name, "\\/:") &&
         !IsForbiddenName(name);
}

int DecodeResult(Extraction* x, int decoded) {
  if (decoded == DECODE_TRUNCATED) return EndedEarly(x, "it ends inside a compressed file");
  if (decoded == DECODE_WRITE_FAILED) return LEVEL_STOPPED;
  if (decoded != DECODE_OK) return EndedEarly(x, "a compressed file has no proper end mark");
  return LEVEL_DONE;
}

void Leave(HeldDirectory* held) {
  while (held && --held->uses == 0) {
    HeldDirectory* parent = held->parent;
    CloseDirectory(&held->dir);
    FreeMemory(held);
    held = parent;
  }
}

// Every message of the extraction comes after those of the members before.
void CatchUpAll(Extraction* x) {
  if (x->unpacker) CatchUp(x->unpacker);
}

// What became of a file member, told in archive order. A member cut off
// was told by the level that read it.
void TellOutcome(void* context, const MemberOutcome& member) {
  Extraction* x = static_cast<Extraction*>(context);
  if (member.sound && (member.create_error || member.write_error)) {
    SetSystemError(member.create_error ? member.create_error : member.write_error);
    ReportFailure(member.create_error ? "Cannot create file %s." : "Failed to write file %s.", member.path);
    ++x->members_failed;
  } else if (member.sound) {
    ReportUnpacked(member.path, member.size);
  }
  Leave(static_cast<HeldDirectory*>(member.tag));
}

// The sink of a member's bytes; only the run's stop ends the decoding.
int UnpackBytes(void* context, const uint8_t* bytes, size_t size) {
  Extraction* x = static_cast<Extraction*>(context);
  if (StopRequested()) return 1;
  ProgressUpdate(x->files_done, ReaderPosition(&x->reader));
  return AppendToMember(x->unpacker, bytes, size);
}

// Reads a member's coded stream without writing it anywhere: its size.
int ReadStream(Extraction* x, uint64_t* size) {
  return DecodeResult(x, DecompressMember(x->decoder, &x->reader.source, nullptr, nullptr, &x->carry, size));
}

// A member decoded ahead, taken as if decoded here.
int UnpackAhead(Extraction* x, AheadMember* ahead, uint64_t* size) {
  int result = ahead->size == 0 || UnpackBytes(x, ahead->data, ahead->size) == 0 ? LEVEL_DONE : LEVEL_STOPPED;
  SkipReaderTo(&x->reader, ahead->end);
  uint64_t kept = ahead->size < 4096 ? ahead->size : 4096;
  CarryAfterDecoding(&x->carry, ahead->data + (ahead->size - kept), ahead->size);
  *size = ahead->size;
  FreeAheadMember(x->lookahead, ahead);
  return result;
}

// Decodes a file member and hands it to the unpacker, which creates and
// writes it while the next members are decoded.
int ExtractFile(Extraction* x, HeldDirectory* dir, const char* name, const char* path) {
  dir->uses++;
  BeginMember(x->unpacker, &dir->dir, name, path, dir);
  StatusPrintf(x->window, "Extracting %s...", name);
  uint64_t size;
  AheadMember* ahead = x->lookahead ? TakeAheadMember(x->lookahead, ReaderPosition(&x->reader)) : nullptr;
  int result = ahead ? UnpackAhead(x, ahead, &size)
                     : DecodeResult(x, DecompressMember(x->decoder, &x->reader.source, UnpackBytes, x,
                                                        &x->carry, &size));
  EndMember(x->unpacker, result == LEVEL_DONE);
  if (result == LEVEL_STOPPED && Interrupted()) {
    CatchUpAll(x);
    MessagePrintf(WARNING, "Interrupted; the unfinished file %s is removed.", path);
  }
  ProgressUpdate(++x->files_done, ReaderPosition(&x->reader));
  return result;
}

int ReadLevel(Extraction* x, HeldDirectory* dir, const char* prefix, int mode);

// A directory member's level, in a directory of that name that is made if
// needed and entered only when it is a real directory.
int ExtractDirectory(Extraction* x, HeldDirectory* parent, const char* name, const char* path) {
  CatchUpWith(x->unpacker, &parent->dir, name);  // a file of that name goes first, as it stands
  HeldDirectory* held = static_cast<HeldDirectory*>(AllocateMemory(sizeof(HeldDirectory)));
  if (!held) {
    CatchUpAll(x);
    OutOfMemory("a directory being unpacked");
    return LEVEL_STOPPED;
  }
  int made = MakeDirectoryAt(&parent->dir, name);  // it may exist already
  int make_error = made == 0 ? 0 : LastSystemError();
  int opened = OpenSubdirectory(&parent->dir, name, &held->dir);
  int code = LastSystemError();
  if (opened != 0) {
    FreeMemory(held);
    CatchUpAll(x);
    if (code == ERROR_NOT_OWN_DIRECTORY) {
      MessagePrintf(FAILURE, "%s is a link or a file, not a directory; nothing is extracted into it.", path);
    } else {
      SetSystemError(make_error && !EntryExistsAt(&parent->dir, name) ? make_error : code);
      ReportFailure("Cannot create or enter directory %s; its files are not extracted.", path);
    }
    ++x->levels_skipped;
    return ReadLevel(x, nullptr, path, MODE_READ);
  }
  held->parent = parent;
  held->uses = 1;
  parent->uses++;
  // The files before it are told first: the unpacking catches up.
  if (Heard(VERBOSE)) {
    char current[PATH_SIZE];
    JoinPath(&held->dir, nullptr, current, PATH_SIZE);
    CatchUpAll(x);
    MessagePrintf(VERBOSE, "Current dir: %s", current);
  }
  int result = ReadLevel(x, held, path, MODE_EXTRACT);
  Leave(held);
  return result;
}

int ReadMember(Extraction* x, HeldDirectory* dir, uint16_t word, const char* name, const char* path,
               const char* unusable, int mode) {
  bool directory = (word & ATTR_DIRECTORY) != 0;
  if (mode == MODE_EXTRACT && !unusable && !IsSafeName(name)) unusable = "which is unsafe here";
  if (mode == MODE_EXTRACT && unusable) {
    CatchUpAll(x);
    MessagePrintf(WARNING, "The archive holds the name \"%s\", %s; that member is not extracted.", path, unusable);
    ++x->members_failed;
    mode = MODE_READ;
  }
  if (mode == MODE_EXTRACT)
    return directory ? ExtractDirectory(x, dir, name, path) : ExtractFile(x, dir, name, path);
  if (directory) {
    if (mode == MODE_LIST) OutputPrintf("%10d %10d %s%c", 0, 0, path, PATH_SEPARATOR);
    return ReadLevel(x, nullptr, path, mode);
  }
  int64_t start = ReaderPosition(&x->reader);
  uint64_t size;
  int result = ReadStream(x, &size);
  if (result == LEVEL_DONE && mode == MODE_LIST)
    OutputPrintf("%10" PRId64 " %10" PRIu64 " %s", ReaderPosition(&x->reader) - start, size, path);
  ProgressUpdate(++x->files_done, ReaderPosition(&x->reader));
  return result;
}

// Reads one level's members up to its end marker: extracting them into dir,
// listing them, or only reading past them.
int ReadLevel(Extraction* x, HeldDirectory* dir, const char* prefix, int mode) {
  if (x->depth >= MAX_DEPTH) return Damaged(x, "its directories nest too deeply");
  ++x->depth;
  int result;
  uint16_t word = 0;
  char stored[PATH_SIZE];
  char converted[PATH_SIZE];
  char path[PATH_SIZE];
  for (;;) {
    if (x->unpacker) TellWritten(x->unpacker);  // a Cancel there stops at once
    if (StopRequested() || (x->unpacker && UnpackerHalted(x->unpacker))) {
      result = LEVEL_STOPPED;
      break;
    }
    result = ReadWord(x, &word);
    if (result != 1) break;
    result = ReadName(x, stored);
    if (result != 0) break;
    const char* unusable;
    const char* name = NameFromArchive(&x->names, stored, converted, PATH_SIZE, &unusable);
    if (!prefix[0] || snprintf(path, sizeof path, "%s%c%s", prefix, PATH_SEPARATOR, name) >= (int)sizeof path)
      snprintf(path, sizeof path, "%s", name);
    result = ReadMember(x, dir, word, name, path, unusable, mode);
    if (result != 0) break;
  }
  --x->depth;
  return result;
}

const char ARCHIVE_TAG[] = "ZQAR\0\0\0\0";

// What the archive holds after the top level's end at end: exactly its
// check record, or (without one at the file's end) nothing at all.
int CheckEnd(Extraction* x, FileHandle file, int64_t end) {
  if (x->covered >= 0)
    return end == x->covered ? 0 : Damaged(x, "its check record does not begin where its top level ends");
  char tag[4] = "";
  if (end == x->size) return 0;
  if (ReadAt(file, end, tag, 4) < 0) return ReadFailed(x, LastSystemError());
  if (memcmp(tag, "ZQCK", 4) == 0) return Damaged(x, "its check record is broken, or bytes follow it");
  return DamagedBy(x, "%" PRId64 " bytes after its end are not part of it", x->size - end);
}

int ReadLevel(Extraction* x, HeldDirectory* dir, const char* prefix, int mode);

// An archive without a check record is read through once before anything is
// written, so that damage stops it first.
int ScanPlain(Extraction* x, FileHandle file) {
  if (SeekInFile(file, 0) != 0) return ReadFailed(x, LastSystemError());
  OpenReader(&x->reader, file, x->reader.buffer, x->reader.capacity);
  SkipReaderTo(&x->reader, 8);  // the header, read before
  int result = ReadLevel(x, nullptr, "", MODE_READ);
  x->scanned_end = ReaderPosition(&x->reader);
  x->carry = WindowCarry{};
  x->files_done = 0;
  return result == LEVEL_DONE ? CheckEnd(x, file, x->scanned_end) : result;
}

// Finds the archive's check record and compares every block of the archive
// with it, before anything is written; an archive without one is read
// through first when it is to be extracted. 0, or how reading ended.
int CheckArchive(Extraction* x, FileHandle file, int mode) {
  x->covered = -1;
  x->scanned_end = -1;
  x->size = -1;
  SizeOfFile(file, &x->size);  // a size it cannot tell stays -1: a read failure
  uint8_t header[8];
  int got = x->size < 0 ? -1 : ReadAt(file, 0, header, 8);
  CheckRecord record = {};
  int found = got < 0 ? CHECK_READ_FAILED : FindCheckRecord(file, x->size, &record);
  int64_t bad = 0, first_bad = -1;
  if (found == CHECK_FOUND) {
    x->covered = record.start;
    bad = VerifyBlocks(file, &record, x->reader.buffer, x->reader.capacity,
                       [](void* context, int64_t offset, int64_t, uint32_t) {
                         int64_t* first = static_cast<int64_t*>(context);
                         if (*first < 0) *first = offset;
                       },
                       &first_bad);
  }
  FreeCheckRecord(&record);
  if (found == CHECK_READ_FAILED || bad < 0) return ReadFailed(x, LastSystemError());
  if (found == CHECK_NO_MEMORY) {
    OutOfMemory("the archive's check record");
    return LEVEL_STOPPED;
  }
  // A file that is no archive at all is told by the header's test.
  if (found != CHECK_FOUND && (got != 0 || memcmp(header, ARCHIVE_TAG, 8) != 0)) return 0;
  if (found == CHECK_NONE) return mode == MODE_EXTRACT ? ScanPlain(x, file) : 0;
  if (found == CHECK_BROKEN) return Damaged(x, "its check record is broken");
  if (found == CHECK_WRONG_LENGTH)
    return DamagedBy(x, "it is %" PRId64 " bytes long, where its check record says %" PRId64 " (cut or lengthened)",
                     x->size, record.start + record.length);
  if (found == CHECK_UNKNOWN_KIND)
    return DamagedBy(x, "its check record is of kind %" PRId64 ", which this program does not know", record.kind);
  if (bad == 0) return 0;
  return DamagedBy(x,
                   bad == 1 ? "%" PRId64 " of its 64 KiB blocks fails its check, at byte offset %" PRId64
                            : "%" PRId64 " of its 64 KiB blocks fail their check, the first at byte offset %" PRId64,
                   bad, first_bad);
}

// The result to end with, after the message that tells how reading ended.
int Tell(const char* archive_path, Extraction* x, int result, int mode, bool written) {
  const char* after = mode != MODE_EXTRACT ? "" : written ? " The extraction stopped there." : " Nothing was extracted.";
  if (result == LEVEL_DAMAGED) {
    MessagePrintf(FAILURE, "Archive %s is damaged: %s.%s", archive_path, x->damage, after);
  } else if (result == LEVEL_READ_FAILED) {
    SetSystemError(x->read_error);
    char action[96];
    snprintf(action, sizeof action, "Failed to read archive %%s.%s", after);
    ReportFailure(action, archive_path);
  }
  return result == LEVEL_STOPPED ? 1 : result;
}

// Opens the archive, checks it and reads its header: 0, or the result to
// end with after a message.
int OpenArchive(const char* archive_path, Extraction* x, FileHandle* file, int mode) {
  if (OpenFileAt(nullptr, archive_path, ACCESS_READ, file) != 0) {
    ReportFailure("Failed to find archive %s.", archive_path);
    return 1;
  }
  size_t capacity = x->lookahead ? AHEAD_BLOCK : STREAM_BUFFER;
  uint8_t* buffer = static_cast<uint8_t*>(AllocateMemory(capacity));
  x->decoder = buffer ? NewDecoder(AllocateMemory) : nullptr;
  if (!x->decoder) {
    FreeMemory(buffer);
    CloseFileHandle(file);
    OutOfMemory("the decoder");
    return 1;
  }
  x->reader.buffer = buffer;
  x->reader.capacity = capacity;
  int result = CheckArchive(x, *file, mode);
  if (result == 0 && SeekInFile(*file, 0) != 0) result = ReadFailed(x, LastSystemError());
  result = Tell(archive_path, x, result, mode, false);
  if (result == 0) {
    OpenReader(&x->reader, *file, buffer, capacity);
    if (x->lookahead) {
      x->reader.on_block = [](void* ahead, int64_t offset, const uint8_t* bytes, size_t size) {
        OfferBlock(static_cast<Lookahead*>(ahead), offset, bytes, size);
      };
      x->reader.block_context = x->lookahead;
    }
    char header[8];
    int got = 0;
    for (int c; got < 8 && (c = NextByte(x)) != EOF; got++) header[got] = (char)c;
    if (got == 8 && memcmp(header, ARCHIVE_TAG, 8) == 0) return 0;
    result = 2;
    if (x->reader.failed) {
      result = Tell(archive_path, x, ReadFailed(x, x->reader.error), mode, false);
    } else if (!x->reader.source.abandoned) {
      MessagePrintf(FAILURE, "File %s isn't a supported archive type.", archive_path);
    }
  }
  FreeMemory(x->decoder);
  FreeMemory(buffer);
  CloseFileHandle(file);
  return result;
}

// Opens the target directory, made if needed: 0, or -1 after a message.
int OpenTarget(const char* target_path, bool own, Directory* target) {
  int made = MakeDirectoryAt(nullptr, target_path);  // it may exist already
  int make_error = made == 0 ? 0 : LastSystemError();
  int opened = own ? OpenOwnDirectory(target_path, target) : OpenDirectory(target_path, target);
  if (opened == 0) return 0;
  int code = LastSystemError();
  if (code == ERROR_NOT_OWN_DIRECTORY) {
    MessagePrintf(FAILURE, "%s is a link or a file, not a directory; nothing is extracted into it.", target_path);
  } else if (FileExists(target_path)) {
    MessagePrintf(FAILURE, "%s is a file, not a directory; nothing is extracted.", target_path);
  } else {
    SetSystemError(make_error && !EntryExistsAt(nullptr, target_path) ? make_error : code);
    ReportFailure("Cannot create or enter directory %s.", target_path);
  }
  return -1;
}

// Opens the target and what writes into it: 0, or the result to end with
// after a message.
int StartWriting(Extraction* x, const char* target_path, bool own_target, const WorkLimits* limits,
                 HeldDirectory** target) {
  *target = static_cast<HeldDirectory*>(AllocateMemory(sizeof(HeldDirectory)));
  if (*target) x->unpacker = StartUnpacker(limits, TellOutcome, x);
  if (!x->unpacker) {
    if (!*target) OutOfMemory("the extraction");
    FreeMemory(*target);
    return 1;
  }
  if (OpenTarget(target_path, own_target, &(*target)->dir) != 0) {
    FinishUnpacker(x->unpacker);
    FreeMemory(*target);
    return -1;
  }
  (*target)->parent = nullptr;
  (*target)->uses = 1;
  char current[PATH_SIZE];
  JoinPath(&(*target)->dir, nullptr, current, PATH_SIZE);
  MessagePrintf(VERBOSE, "Current dir: %s", current);
  return 0;
}

// Decoding ahead pays where another processor is there for it.
bool DecodesAhead(const WorkLimits* limits) {
  if (limits && limits->decode_ahead != 0) return limits->decode_ahead > 0;
  return (!limits || limits->workers >= 0) && ProcessorCount() > 1;
}

// Opens the archive again, for the thread that reads ahead: a handle of its
// own, since a read at an offset moves the handle's position on Windows.
// -1 where it cannot be had or is not the same file (the name was given to
// another meanwhile): the thread then decodes only the blocks offered.
int OpenSameFile(const char* archive_path, FileHandle file, FileHandle* again) {
  FileIdentity one, other;
  if (OpenFileAt(nullptr, archive_path, ACCESS_READ, again) != 0) return -1;
  if (IdentifyFile(file, &one) == 0 && IdentifyFile(*again, &other) == 0 && one.device == other.device &&
      one.index == other.index)
    return 0;
  CloseFileHandle(again);
  return -1;
}

// Reads the whole archive: into target (MODE_EXTRACT), or listing or only
// reading it. The result as ExtractArchive's; *verified tells whether a
// check record vouched for every byte.
int ReadArchive(const char* archive_path, const char* target_path, bool own_target, int mode,
                const WorkLimits* limits = nullptr, bool* verified = nullptr) {
  Extraction x = {};
  if (OpenNameCoding(settings.code_page, &x.names) != 0) return 1;
  if (mode == MODE_EXTRACT && DecodesAhead(limits))
    x.lookahead = StartLookahead(AHEAD_BLOCK, limits ? limits->ahead_stats : nullptr);
  FileHandle file;
  int result = OpenArchive(archive_path, &x, &file, mode);
  if (result != 0) {
    if (x.lookahead) FinishLookahead(x.lookahead);
    return result;
  }
  if (verified) *verified = x.covered >= 0;
  FileHolder ahead_file;
  if (x.lookahead && OpenSameFile(archive_path, file, &ahead_file.file) == 0)
    ReadAheadFrom(x.lookahead, ahead_file.file);
  HeldDirectory* target = nullptr;
  if (mode != MODE_EXTRACT || (result = StartWriting(&x, target_path, own_target, limits, &target)) == 0) {
    x.window = StatusPrintf(nullptr, "Please wait...");
    ProgressBegin(nullptr, 0, x.size);
    result = ReadLevel(&x, target, "", mode);
    // A member that could not be written stops the rest, and ends as one.
    if (x.unpacker && FinishUnpacker(x.unpacker) == HALT_WRITE && result == LEVEL_STOPPED && !StopRequested())
      result = 4;
    Leave(target);
    // The end marks follow the last member, and the check record them: all
    // of the archive is read now.
    if (result == LEVEL_DONE) ProgressUpdate(x.files_done, x.size);
    StatusClose(&x.window);
    ProgressEnd();
  }
  if (result == LEVEL_DONE && x.scanned_end < 0) result = CheckEnd(&x, file, ReaderPosition(&x.reader));
  if (result == LEVEL_DONE && x.levels_skipped) {
    result = -1;  // each level was named when it was skipped
  } else if (result == LEVEL_DONE && x.members_failed) {
    result = 4;
  }
  result = Tell(archive_path, &x, result, mode, true);
  if (x.lookahead) FinishLookahead(x.lookahead);
  FreeMemory(x.decoder);
  FreeMemory(x.reader.buffer);
  CloseFileHandle(&file);
  return result;
}

}  // namespace

int ExtractArchive(const char* archive_path, const char* target_path, const WorkLimits* limits) {
  int result = ReadArchive(archive_path, target_path, false, MODE_EXTRACT, limits);
  return result;
}

int ExtractArchiveInto(const char* archive_path, const char* name) {
  return ReadArchive(archive_path, name, true, MODE_EXTRACT);
}

int ListArchive(const char* archive_path) { return ReadArchive(archive_path, nullptr, false, MODE_LIST); }

int TestArchive(const char* archive_path) {
  bool verified = false;
  int result = ReadArchive(archive_path, nullptr, false, MODE_READ, nullptr, &verified);
  if (result == 0 && !verified)
    MessagePrintf(FAILURE, "Archive %s has no check record: it decodes, but could not be verified.", archive_path);
  else if (result == 0)
    MessagePrintf(VERBOSE, "Archive %s is sound.", archive_path);
  return result;
}
