// Cutting a file into pieces that fit on 1.44 MB floppies, the remainder
// first, so that every later piece fills a disk. Each piece appears under
// its name only once it is whole.
#include "media/split.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fileutil/filecopy.h"
#include "fileutil/fsops.h"
#include "fileutil/output.h"
#include "fileutil/paths.h"
#include "ui/messages.h"

namespace {

// Where ".001" goes: the last '.' of the last path component, or its end.
size_t SuffixPosition(const char* path) {
  const char* component = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') component = p + 1;
  const char* dot = strrchr(component, '.');
  return dot ? (size_t)(dot - path) : strlen(path);
}

// Writes one piece of length bytes from file: 0, or the result to end with
// after a message.
int WritePiece(FileHandle file, const char* path, const char* name, int64_t length, unsigned char* buffer) {
  OutputFile piece;
  if (CreateOutput(name, &piece) != 0) {
    FailurePrintf("Failed to create %s.", name);
    return 3;
  }
  int copied = CopyBlocks(file, piece.file, length, buffer);
  if (copied == 0 && !StopRequested() && CommitOutput(&piece) != 0) copied = 2;
  if (copied != 0 || StopRequested()) {
    int code = LastSystemError();
    AbandonOutput(&piece);
    SetSystemError(code);
  }
  if (copied == 1) {
    FailurePrintf("Failed to read %s.", path);
    return 1;
  }
  if (copied == 2) {
    FailurePrintf("Failed to write into %s.", name);
    return 2;
  }
  if (StopRequested()) {
    if (Interrupted()) MessagePrintf("Interrupted; the unfinished piece %s is removed.", name);
    return 1;
  }
  return 0;
}

// The pieces from number on that an earlier, longer cut left beside the
// new ones: named, since joining them would add another file's bytes.
void TellOlderPieces(const char* path, size_t suffix, int number) {
  char name[PATH_SIZE], first[PATH_SIZE];
  int found = 0;
  for (; number <= 999 && suffix + 5 <= sizeof name; ++number, ++found) {
    memcpy(name, path, suffix);
    snprintf(name + suffix, sizeof name - suffix, ".%03d", number);
    if (!EntryExistsAt(nullptr, name)) break;
    if (found == 0) memcpy(first, name, sizeof name);
  }
  if (found == 0) return;
  if (found == 1) {
    MessagePrintf("%s, left from an earlier cut, is not one of the new pieces.", first);
    return;
  }
  snprintf(name + suffix, sizeof name - suffix, ".%03d", number - 1);
  MessagePrintf("%s to %s, left from an earlier cut, are not among the new pieces.", first, BaseName(name));
}

int Cut(const char* path) {
  FileHolder file;
  if (OpenFileAt(nullptr, path, ACCESS_READ, &file.file) != 0) {
    FailurePrintf("Cannot find file %s.", path);
    return 1;
  }
  int64_t size = SizeOfFile(file.file);
  if (size < 0) {
    FailurePrintf("Failed to read %s.", path);
    return 1;
  }
  if (settings.verbose) {
    // Messages format as wvsprintfA does, which knows no 64-bit values.
    char digits[24];
    snprintf(digits, sizeof digits, "%" PRId64, size);
    MessagePrintf("File %s is %s bytes long.", path, digits);
  }

  char name[PATH_SIZE];
  size_t suffix = SuffixPosition(path);
  int64_t remaining = size;
  int64_t length = size % PIECE_SIZE;
  int number = 1;
  unsigned char buffer[COPY_BUFFER_SIZE];
  ProgressBegin(BaseName(path), (size + PIECE_SIZE - 1) / PIECE_SIZE, size);
  while (remaining > 0) {
    remaining -= length;
    char digits[16];
    int digit_count = snprintf(digits, sizeof digits, ".%03d", number);
    // A cut name would write the pieces somewhere else.
    if (suffix + digit_count >= sizeof name) {
      MessagePrintf("The name %s is too long for its pieces (at most %d characters).", path,
                    (int)(sizeof name - 1 - digit_count));
      return 1;
    }
    memcpy(name, path, suffix);
    memcpy(name + suffix, digits, digit_count + 1);
    int written = WritePiece(file.file, path, name, length, buffer);
    if (written != 0) return written;
    ProgressUpdate(number, size - remaining);
    ++number;
    length = PIECE_SIZE;
  }
  ProgressEnd();
  TellOlderPieces(path, suffix, number);
  MessagePrintf("Done. %s split in %d pieces.", path, number - 1);
  return 0;
}

}  // namespace

int SplitFile(const char* path) {
  int result = Cut(path);
  ProgressEnd();  // on every way out
  return result;
}
