// The usage text of the command-line build.
#include <cstdio>

#include "driver/entry.h"
#include "ui/messages.h"

void ShowUsage() {
  if (message_hook) {
    message_hook(USAGE_TEXT);
    return;
  }
  fputs(USAGE_TEXT, stdout);
  fflush(stdout);
}
