// Not built yet: answers with a clear message and a failure.
#include "driver/install.h"
#include "ui/messages.h"

int RunInstallation() {
  MessagePrintf("The installation is not available in this build.");
  return 1;
}
