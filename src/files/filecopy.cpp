// Whole-file copy.
#include "files/filecopy.h"

#include "ui/messages.h"

int CopyBlocks(FileHandle from, FileHandle to, int64_t length, unsigned char* buffer) {
  while (length > 0) {
    size_t block = length < COPY_BUFFER_SIZE ? (size_t)length : COPY_BUFFER_SIZE;
    for (size_t got = 0; got < block;) {
      size_t read;
      if (ReadFromFile(from, buffer + got, block - got, &read) != 0) return 1;
      if (read == 0) {
        SetSystemError(ERROR_FILE_ENDED_EARLY);
        return 1;
      }
      got += read;
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
  int64_t length;
  if (SizeOfFile(from.file, &length) != 0) return 1;
  unsigned char buffer[COPY_BUFFER_SIZE];
  int copied = CopyBlocks(from.file, to.file, length, buffer);
  if (copied != 0) return copied;
  if (CopyFileTimes(from.file, to.file) != 0)
    ReportFailure("\nCopy: Error setting the file time of %s.\n", destination, CODE_FIRST);
  // What the system could not write in the end is a failed write as well.
  return CloseFileHandle(&to.file) == 0 ? 0 : 2;
}

int FileCopy(const char* source, const char* destination) {
  int result = Transfer(source, destination);
  if (result == 1) ReportFailure("\nCopy: Error reading from file %s.\n", source, CODE_FIRST);
  if (result == 2) ReportFailure("\nCopy: Error writing to file %s.\n", destination, CODE_FIRST);
  return result;
}
