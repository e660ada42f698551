// Whole-file copy.
#include "files/filecopy.h"

#include "ui/messages.h"

int CopyBlocks(FileHandle from, FileHandle to, int64_t length, unsigned char* buffer) {
  while (length > 0) {
    size_t block = length < COPY_BUFFER_SIZE ? (size_t)length : COPY_BUFFER_SIZE;
    for (size_t got = 0; got < block;) {
      intptr_t read = ReadFromFile(from, buffer + got, block - got);
      if (read == 0) SetSystemError(ERROR_FILE_ENDED_EARLY);
      if (read <= 0) return 1;
      got += (size_t)read;
    }
    if (WriteToFile(to, buffer, block) != 0) return 2;
    length -= (int64_t)block;
  }
  return 0;
}

// 0 done, 1 source side failed, 2 destination side failed.
static int Transfer(const char* source, const char* destination) {
  FileHolder from, to;
  if (OpenFileAt(nullptr, source, ACCESS_READ, &from.file) != 0) return 1;
  if (OpenFileAt(nullptr, destination, ACCESS_REPLACE, &to.file) != 0) return 2;
  int64_t length = SizeOfFile(from.file);
  if (length < 0) return 1;
  unsigned char buffer[COPY_BUFFER_SIZE];
  int copied = CopyBlocks(from.file, to.file, length, buffer);
  if (copied != 0) return copied;
  if (CopyFileTimes(from.file, to.file) != 0)
    ErrorPrintf("Error setting file time.\n");
  // What the system could not write in the end is a failed write as well.
  return CloseFileHandle(&to.file) == 0 ? 0 : 2;
}

static int Report(int result, const char* source, const char* destination, const char* verb) {
  if (result == 1) ErrorPrintf("\n%s: Error reading from file %s.\n", verb, source);
  if (result == 2) ErrorPrintf("\n%s: Error writing to file %s.\n", verb, destination);
  return result;
}

int FileCopy(const char* source, const char* destination) {
  return Report(Transfer(source, destination), source, destination, "Copy");
}
