// Unpacking an archive into a directory tree. The archive is untrusted: a
// member name must be a bare name, damage stops the extraction with a
// message, and a failed member never passes for a written one. So is what
// the tree below the target holds already: a link there is never followed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/archive.h"
#include "codec/byteio.h"
#include "codec/codec.h"
#include "fileutil/paths.h"
#include "fileutil/dirscan.h"
#include "fileutil/fsops.h"
#include "fileutil/visit.h"

namespace {

// Results of reading a level; DAMAGED ends every enclosing level at once.
const int LEVEL_DONE = 0;
const int LEVEL_NOT_ENTERED = -1;
const int LEVEL_DAMAGED = 3;

// Deeper nesting than any tree within the path limit can hold.
const int MAX_DEPTH = 256;

struct Extraction {
  const char* damage;   // what was wrong, when the archive is damaged
  int members_failed;   // members that could not be written
  int levels_skipped;   // directories that could not be made or entered
  int depth;
  int64_t files_done;   // for the progress, beside the archive's position
};
Extraction state;

int Damaged(const char* what) {
  state.damage = what;
  return LEVEL_DAMAGED;
}

// Reads a member's attribute word: 1 read, 0 the level is over (its end
// marker, or the archive ends cleanly here), LEVEL_DAMAGED for half a word.
int ReadWord(FILE* archive, uint16_t* word) {
  int low = fgetc(archive);
  if (low == EOF) return 0;
  int high = fgetc(archive);
  if (high == EOF) return Damaged("it ends inside a member record");
  *word = (uint16_t)(low | (high << 8));
  return *word == END_OF_LEVEL ? 0 : 1;
}

int ReadName(FILE* archive, char* name) {
  for (int i = 0; i < PATH_SIZE; ++i) {
    int c = fgetc(archive);
    if (c == EOF) return Damaged("it ends inside a member name");
    name[i] = (char)c;
    if (c == 0) return 0;
  }
  return Damaged("a member name is longer than 259 bytes");
}

// Only a bare name stays inside the directory of its level.
bool IsSafeName(const char* name) {
  return name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
         !strpbrk(name, "\\/:") && !IsForbiddenName(name);
}

int DecodeResult(int decoded) {
  if (decoded == DECODE_TRUNCATED) return Damaged("it ends inside a compressed file");
  if (decoded != DECODE_OK) return Damaged("a compressed file has no proper end mark");
  return LEVEL_DONE;
}

// Reads a member's coded stream without writing it anywhere.
int SkipStream(FILE* archive) {
  FILE* sink = OpenNullSink();
  if (!sink) return Damaged("its data cannot be skipped");
  int decoded = DecompressMember(archive, sink);
  fclose(sink);
  return DecodeResult(decoded);
}

int ReadLevel(StatusWindow window, FILE* archive, bool extract);

// Reads a whole level, nested levels included, and writes nothing.
int SkipLevel(FILE* archive) { return ReadLevel(nullptr, archive, false); }

int SkipMember(FILE* archive, uint16_t word) {
  return (word & ATTR_DIRECTORY) ? SkipLevel(archive) : SkipStream(archive);
}

int ExtractFile(StatusWindow window, FILE* archive, const char* name) {
  FILE* output = CreateFileAnew(name);
  if (!output) {
    MessagePrintf("Cannot create file %s.", name);
    ++state.members_failed;
    return SkipStream(archive);
  }
  StatusPrintf(window, "Extracting %s...", name);
  int result = DecodeResult(DecompressMember(archive, output));
  int64_t decoded = TellOffset(output);
  bool write_failed = ferror(output) != 0;
  if (fclose(output) != 0) write_failed = true;
  if (result == LEVEL_DONE && write_failed) {
    MessagePrintf("Failed to write file %s.", name);
    ++state.members_failed;
    DeleteFileNamed(name);
  } else if (result != LEVEL_DONE) {
    DeleteFileNamed(name);  // what was written of it is incomplete
  } else {
    ReportUnpacked(name, (uint64_t)decoded);
  }
  ProgressUpdate(++state.files_done, TellOffset(archive));
  return result;
}

// A directory member's level, in a directory of that name that is made if
// needed and entered only when it is a real directory.
int ExtractDirectory(StatusWindow window, FILE* archive, const char* name) {
  if (state.depth >= MAX_DEPTH) return Damaged("its directories nest too deeply");
  MakeDir(name);  // it may exist already
  OwnLevel level;
  int entered = EnterOwnDirectory(name, &level);
  if (entered != 0) {
    if (entered == NOT_OWN_DIRECTORY)
      MessagePrintf("%s is a link or a file, not a directory; nothing is extracted into it.", name);
    else
      MessagePrintf("Cannot create or enter directory %s; its files are not extracted.", name);
    ++state.levels_skipped;
    return SkipLevel(archive);
  }
  ShowCurrentDir();
  int result = ReadLevel(window, archive, true);
  LeaveOwnDirectory(&level);
  return result;
}

int ExtractMember(StatusWindow window, FILE* archive, uint16_t word, const char* name) {
  if (!IsSafeName(name)) {
    MessagePrintf("The archive holds the unsafe name \"%s\"; that member is not extracted.", name);
    ++state.members_failed;
    return SkipMember(archive, word);
  }
  if (word & ATTR_DIRECTORY) return ExtractDirectory(window, archive, name);
  return ExtractFile(window, archive, name);
}

// Reads one level's members up to its end marker: extracting them into the
// current directory, or only reading past them.
int ReadLevel(StatusWindow window, FILE* archive, bool extract) {
  if (state.depth >= MAX_DEPTH) return Damaged("its directories nest too deeply");
  ++state.depth;
  int result;
  uint16_t word;
  char name[PATH_SIZE];
  for (;;) {
    result = ReadWord(archive, &word);
    if (result != 1) break;
    result = ReadName(archive, name);
    if (result != 0) break;
    result = extract ? ExtractMember(window, archive, word, name) : SkipMember(archive, word);
    if (result != 0) break;
  }
  --state.depth;
  return result;
}

}  // namespace

int ExtractLevel(StatusWindow window, FILE* archive, const char* path) {
  MakeDir(path);  // it may exist already
  DirectoryVisit visit;
  if (EnterLevel(path, &visit) != 0) return LEVEL_NOT_ENTERED;
  ShowCurrentDir();
  int result = ReadLevel(window, archive, true);
  LeaveLevel(&visit);
  return result;
}

// own_target: the target is a bare name that must be a directory of its own,
// as a link there is not the user's choice.
static int Extract(const char* archive_path, const char* target_path, bool own_target) {
  FILE* archive = fopen(archive_path, "rb");
  if (!archive) {
    MessagePrintf("Failed to find archive %s.", archive_path);
    return 1;
  }
  setvbuf(archive, nullptr, _IOFBF, STREAM_BUFFER);
  unsigned char header[8];
  if (fread(header, 1, 8, archive) != 8 || memcmp(header, "ZQAR\0\0\0\0", 8) != 0) {
    MessagePrintf("File %s isn't a supported archive type.", archive_path);
    fclose(archive);
    return 2;
  }
  StatusWindow window = StatusPrintf(nullptr, "Please wait...");
  ProgressBegin(nullptr, 0, OpenFileSize(archive));
  state = Extraction{nullptr, 0, 0, 0, 0};
  int result = own_target ? ExtractDirectory(window, archive, target_path)
                          : ExtractLevel(window, archive, target_path);
  // The end marks follow the last member: all of the archive is read now.
  if (result == LEVEL_DONE) ProgressUpdate(state.files_done, TellOffset(archive));
  StatusClose(&window);
  fclose(archive);
  if (result == LEVEL_DAMAGED) {
    MessagePrintf("Archive %s is damaged: %s. The extraction stopped there.", archive_path,
                  state.damage);
  } else if (result == LEVEL_DONE && state.levels_skipped) {
    result = -1;  // each level was named when it was skipped
  } else if (result == LEVEL_DONE && state.members_failed) {
    result = 4;
  }
  if (settings.verbose && result == 0) MessagePrintf("Extraction is complete.");
  return result;
}

int ExtractArchive(const char* archive_path, const char* target_path) {
  return Extract(archive_path, target_path, false);
}

int ExtractArchiveInto(const char* archive_path, const char* name) {
  return Extract(archive_path, name, true);
}
