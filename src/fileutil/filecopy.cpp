// Whole-file copy and append through one process-wide copy buffer.
#include "fileutil/filecopy.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fileutil/fsops.h"
#include "ui/messages.h"

unsigned char* CopyBuffer() {
  static unsigned char* buffer = nullptr;
  if (!buffer) buffer = (unsigned char*)malloc(COPY_BUFFER_SIZE);
  return buffer;
}

int CopyBlocks(FILE* from, FILE* to, int64_t length) {
  unsigned char* buffer = CopyBuffer();
  if (!buffer) return 1;
  while (length > 0) {
    size_t block = length < COPY_BUFFER_SIZE ? (size_t)length : COPY_BUFFER_SIZE;
    if (fread(buffer, 1, block, from) != block) return 1;
    if (fwrite(buffer, 1, block, to) != block) return 2;
    length -= (int64_t)block;
  }
  return 0;
}

int FileTransfer(const char* source, const char* destination, const char* mode) {
  if (!CopyBuffer()) return 1;
  FileHolder from{fopen(source, "rb")};
  if (!from.file) return 1;
  FileHolder to{fopen(destination, mode)};
  if (!to.file) return 2;
  // The length as it is now decides, so appending a file to itself doubles it.
  int64_t length = OpenFileSize(from.file);
  if (length < 0) return 1;
  int copied = CopyBlocks(from.file, to.file, length);
  if (copied != 0) return copied;
  // Buffered bytes that cannot be written are a failed write as well.
  return fclose(to.release()) == 0 ? 0 : 2;
}

static int Report(int result, const char* source, const char* destination, const char* verb) {
  if (result == 1) ErrorPrintf("\n%s: Error reading from file %s.\n", verb, source);
  if (result == 2) ErrorPrintf("\n%s: Error writing to file %s.\n", verb, destination);
  return result;
}

int FileCopy(const char* source, const char* destination) {
  return Report(FileTransfer(source, destination, "wb"), source, destination, "Copy");
}

int FileAppend(const char* source, const char* destination) {
  return Report(FileTransfer(source, destination, "a+b"), source, destination, "Append");
}
