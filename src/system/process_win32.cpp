// Not built yet: answers with a clear message and a failure.
#include "system/process.h"
#include "ui/messages.h"

int RunAndWait(const char*, int) { return 0; }
int InstallInfSection(const char* inf_file, const char*, int) {
  MessagePrintf("Failed to launch %s", inf_file);
  return 0;
}
