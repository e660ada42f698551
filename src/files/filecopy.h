// Whole-file copy, in blocks through a buffer of the copy's own.
#pragma once

#include <cstdint>

#include "os/fsops.h"

const int COPY_BUFFER_SIZE = 16384;

// Copies exactly length bytes from one open file to the other through
// buffer (COPY_BUFFER_SIZE bytes), in blocks of at most that: 0, 1 when a
// block cannot be read whole, 2 when it cannot be written whole.
int CopyBlocks(FileHandle from, FileHandle to, int64_t length, unsigned char* buffer);

// 0 done, 1 source side failed, 2 destination side failed, reported with
// the system's error code and text. A copy takes the source's last-write
// time along.
int FileCopy(const char* source, const char* destination);
