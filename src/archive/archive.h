// The ZQAR archive: one compressed directory tree.
#pragma once

#include <cstdio>

#include "ui/messages.h"

const unsigned short END_OF_LEVEL = 0x8001;
// Buffer of the archive and member streams: fewer, larger reads and writes.
const size_t STREAM_BUFFER = 1 << 16;

int CreateArchive(const char* archive_path, const char* directory_path);
int ArchiveDirectory(StatusWindow window, FILE* archive, const char* path);
int ExtractArchive(const char* archive_path, const char* target_path);
int ExtractLevel(StatusWindow window, FILE* archive, const char* path);
