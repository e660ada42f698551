// Not built yet: answers with a clear message and a failure.
#include "archive/archive.h"
#include "ui/messages.h"

int CreateArchive(const char*, const char*) {
  MessagePrintf("Archive creation is not available in this build.");
  return 1;
}
