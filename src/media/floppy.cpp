// Not built yet: answers with a clear message and a failure.
#include "media/floppy.h"
#include "ui/messages.h"

int BuildFloppySet() {
  MessagePrintf("Building floppy sets is not available in this build.");
  return 1;
}
