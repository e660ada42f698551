// Whole-file copy and append through the process-wide copy buffer.
#pragma once

const int COPY_BUFFER_SIZE = 16384;

// The process-wide copy buffer, allocated on first use; null when it cannot be.
unsigned char* CopyBuffer();

// 0 done, 1 source side failed, 2 destination side failed.
int FileTransfer(const char* source, const char* destination, const char* mode);
int FileCopy(const char* source, const char* destination);
int FileAppend(const char* source, const char* destination);
