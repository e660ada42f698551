// Whole-file copy and append, in blocks through a buffer of the copy's own.
#pragma once

#include <cstdint>

#include "fileutil/fsops.h"

const int COPY_BUFFER_SIZE = 16384;

// Copies exactly length bytes from one open file to the other through
// buffer (COPY_BUFFER_SIZE bytes), in blocks of at most that: 0, 1 when a
// block cannot be read whole, 2 when it cannot be written whole.
int CopyBlocks(FileHandle from, FileHandle to, int64_t length, unsigned char* buffer);

// 0 done, 1 source side failed, 2 destination side failed. access: how the
// destination is opened (ACCESS_REPLACE or ACCESS_APPEND).
int FileTransfer(const char* source, const char* destination, int access);
// Reports their failures themselves, with the system's error code and text.
// A copy takes the source's last-write time along.
int FileCopy(const char* source, const char* destination);
int FileAppend(const char* source, const char* destination);
