// The ZQAR archive: one compressed directory tree.
#pragma once

#include <cstdio>

#include "ui/messages.h"

const unsigned short END_OF_LEVEL = 0x8001;
// Buffer of the archive and member streams: fewer, larger reads and writes.
const size_t STREAM_BUFFER = 1 << 16;

// Packs the tree at directory_path into a new archive. workers: the threads
// that compress, 0 for one per processor (the Windows build packs on the
// calling thread); the archive's bytes are the same with any number.
int CreateArchive(const char* archive_path, const char* directory_path, int workers = 0);
int ArchiveDirectory(StatusWindow window, FILE* archive, const char* path);
// The target path is the caller's choice and may be a link; below it no
// link is followed.
int ExtractArchive(const char* archive_path, const char* target_path);
// As ExtractArchive, into the subdirectory name of the current directory,
// which is made if needed and must not be a link.
int ExtractArchiveInto(const char* archive_path, const char* name);
int ExtractLevel(StatusWindow window, FILE* archive, const char* path);
