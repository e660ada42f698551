// Members told as the codec always told them on Windows: its statistics
// lines on standard output.
#include "archive/report.h"

#include "codec/codec.h"

// The lines CompressStream and DecompressStream print, for a member that
// is not empty.
void ReportPacked(const char*, uint64_t input_size, uint64_t coded_size) {
  if (input_size != 0) PrintStatistics((uint32_t)input_size, (uint32_t)coded_size);
}

void ReportUnpacked(const char*, uint64_t size) {
  if (size != 0) PrintDecodedSize(size);
}
