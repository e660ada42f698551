// Members told as gzip -v tells files: one line each on standard output,
// in verbose mode only.
#include "archive/report.h"

#include <cinttypes>

#include "ui/messages.h"

void ReportPacked(const char* path, uint64_t input_size, uint64_t coded_size) {
  if (input_size == 0)
    VerbosePrintf("%s: empty", path);
  else
    VerbosePrintf("%s: %" PRIu64 " -> %" PRIu64 " bytes, %.1f%%", path, input_size, coded_size,
                  100.0 * (double)coded_size / (double)input_size);
}

void ReportUnpacked(const char* path, uint64_t size) { VerbosePrintf("%s: %" PRIu64 " bytes", path, size); }
