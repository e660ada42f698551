// How each platform tells of a member packed into an archive or unpacked
// from one, with its path below the tree's root: on Windows the codec's
// lines on standard output; on Linux one line each, as gzip -v has it, and
// only in verbose mode.
#pragma once

#include <cstdint>

void ReportPacked(const char* path, uint64_t input_size, uint64_t coded_size);
void ReportUnpacked(const char* path, uint64_t size);
