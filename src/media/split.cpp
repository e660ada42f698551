// Not built yet: answers with a clear message and a failure.
#include "media/split.h"
#include "ui/messages.h"

int SplitFile(const char*) {
  MessagePrintf("Cutting files is not available in this build.");
  return 1;
}
