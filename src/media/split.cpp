// Cutting a file into pieces that fit on 1.44 MB floppies, the remainder
// first, so that every later piece fills a disk.
#include "media/split.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fileutil/paths.h"
#include "fileutil/filecopy.h"
#include "fileutil/fsops.h"
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

int Cut(const char* path) {
  if (!CopyBuffer()) {
    MessagePrintf("Not enough memory to cut %s.", path);
    return 1;
  }
  FileHolder file{fopen(path, "rb")};
  if (!file.file) {
    MessagePrintf("Cannot find file %s.", path);
    return 1;
  }
  int64_t size = OpenFileSize(file.file);
  if (size < 0) {
    MessagePrintf("Failed to read %s.", path);
    return 1;
  }
  if (settings.verbose) {
    char digits[24];
    snprintf(digits, sizeof digits, "%" PRId64, size);
    MessagePrintf("File %s is %s bytes long.", path, digits);
  }

  char name[PATH_SIZE];
  size_t suffix = SuffixPosition(path);
  int64_t remaining = size;
  int64_t length = size % PIECE_SIZE;
  int number = 1;
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
    FileHolder piece{fopen(name, "wb")};
    if (!piece.file) {
      MessagePrintf("Failed to create %s.", name);
      return 3;
    }
    int copied = CopyBlocks(file.file, piece.file, length);
    if (copied == 0 && fclose(piece.release()) != 0) copied = 2;
    if (copied == 1) {
      MessagePrintf("Failed to read %s.", path);
      return 1;
    }
    if (copied == 2) {
      MessagePrintf("Failed to write into %s.", name);
      return 2;
    }
    ProgressUpdate(number, size - remaining);
    ++number;
    length = PIECE_SIZE;
  }
  ProgressEnd();
  fclose(file.release());
  MessagePrintf("Done. %s split in %d pieces.", path, number - 1);
  return 0;
}

}  // namespace

int SplitFile(const char* path) {
  int result = Cut(path);
  ProgressEnd();  // on every way out
  return result;
}
