// Drive changes and the usage text of the command-line build.
#include <cstdio>

#include "driver/entry.h"
#include "ui/messages.h"

// There are no drive letters: every path lies on the one tree.
int ChangeDrive(char) { return 0; }

void ShowUsage() {
  if (message_hook) {
    message_hook(USAGE_TEXT);
    return;
  }
  fputs(USAGE_TEXT, stdout);
  fflush(stdout);
}
