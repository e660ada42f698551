// Cutting a file into pieces that fit on 1.44 MB floppies, the remainder
// first, so that every later piece fills a disk. Each piece appears under
// its name only once it is whole.
#include "media/split.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "files/filecopy.h"
#include "files/output.h"
#include "os/fsops.h"
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
    ReportFailure("Failed to create %s.", name);
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
    ReportFailure("Failed to read %s.", path);
    return 1;
  }
  if (copied == 2) {
    ReportFailure("Failed to write into %s.", name);
    return 2;
  }
  if (StopRequested()) {
    if (Interrupted()) MessagePrintf(WARNING, "Interrupted; the unfinished piece %s is removed.", name);
    return 1;
  }
  return 0;
}

// The pieces from number on that an earlier, longer cut of path left beside
// the new ones: named, since joining them would add another file's bytes.
// name holds the path up to suffix, with room for the piece number.
void TellOlderPieces(const char* path, char* name, size_t suffix, int number) {
  int last = number;
  for (; last <= 999; ++last) {
    snprintf(name + suffix, PATH_SIZE - suffix, ".%03d", last);
    if (!EntryExistsAt(nullptr, name)) break;
  }
  if (last == number) return;
  char range[32];
  snprintf(range, sizeof range, last - 1 > number ? ".%03d to .%03d" : ".%03d", number, last - 1);
  MessagePrintf(WARNING, "Left from an earlier cut of %s beside the new pieces: %s.", path, range);
}

int Cut(const char* path) {
  FileHolder file;
  if (OpenFileAt(nullptr, path, ACCESS_READ, &file.file) != 0) {
    ReportFailure("Cannot find file %s.", path);
    return 1;
  }
  int64_t size;
  if (SizeOfFile(file.file, &size) != 0) {
    ReportFailure("Failed to read %s.", path);
    return 1;
  }
  // Messages format as wvsprintfA does, which knows no 64-bit values.
  char digits[24];
  snprintf(digits, sizeof digits, "%" PRId64, size);
  MessagePrintf(VERBOSE, "File %s is %s bytes long.", path, digits);

  char name[PATH_SIZE];
  size_t suffix = SuffixPosition(path);
  int64_t remaining = size;
  // The remainder by subtraction: pieces are few, and the 32-bit build
  // would take a 64-bit remainder from libgcc, with unwind tables.
  int64_t length = size;
  while (length >= PIECE_SIZE) length -= PIECE_SIZE;
  int number = 1;
  unsigned char buffer[COPY_BUFFER_SIZE];
  ProgressBegin(BaseName(path), (size + PIECE_SIZE - 1) / PIECE_SIZE, size);
  while (remaining > 0) {
    remaining -= length;
    char digits[16];
    int digit_count = snprintf(digits, sizeof digits, ".%03d", number);
    // A cut name would write the pieces somewhere else.
    if (suffix + digit_count >= sizeof name) {
      MessagePrintf(FAILURE, "The name %s is too long for its pieces (at most %d characters).", path,
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
  if (suffix + 5 <= sizeof name) {
    memcpy(name, path, suffix);
    TellOlderPieces(path, name, suffix, number);
  }
  MessagePrintf(NEWS, "Done. %s split in %d pieces.", path, number - 1);
  return 0;
}

}  // namespace

int SplitFile(const char* path) {
  int result = Cut(path);
  ProgressEnd();  // on every way out
  return result;
}
