// Not built yet: answers with a clear message and a failure.
#include "archive/archive.h"
#include "ui/messages.h"

int ExtractArchive(const char*, const char*) {
  MessagePrintf("Archive extraction is not available in this build.");
  return 1;
}
