// Whole-file copy and append through the process-wide copy buffer.
#pragma once

#include <cstdint>
#include <cstdio>

const int COPY_BUFFER_SIZE = 16384;

// The process-wide copy buffer, allocated on first use; null when it cannot be.
unsigned char* CopyBuffer();

// Closes its file on every way out; release() hands the file over.
struct FileHolder {
  FILE* file;
  ~FileHolder() {
    if (file) fclose(file);
  }
  FILE* release() {
    FILE* held = file;
    file = nullptr;
    return held;
  }
};

// Copies exactly length bytes from one open file to the other through the
// copy buffer, in blocks of at most 16,384 bytes: 0, 1 when a block cannot
// be read whole, 2 when it cannot be written whole.
int CopyBlocks(FILE* from, FILE* to, int64_t length);

// 0 done, 1 source side failed, 2 destination side failed.
int FileTransfer(const char* source, const char* destination, const char* mode);
int FileCopy(const char* source, const char* destination);
int FileAppend(const char* source, const char* destination);
