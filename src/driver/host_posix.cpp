// The usage text and the shell's own switches of the command-line build.
#include <cstdio>
#include <cstring>

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

int HostSwitch(const char* argument, int* exit_code) {
  if (strcmp(argument, "-h") == 0 || strcmp(argument, "--help") == 0) {
    ShowUsage();
  } else if (strcmp(argument, "--version") == 0) {
    printf("setup (ZQ K9150 Setup) %s\n", SETUP_VERSION);
    fflush(stdout);
  } else {
    return 0;
  }
  *exit_code = 0;
  return 1;
}
