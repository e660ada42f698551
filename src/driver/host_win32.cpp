// The usage box on Windows.
#include <windows.h>

#include "driver/entry.h"
#include "ui/messages.h"

void ShowUsage() {
  if (message_hook) {
    message_hook(USAGE_TEXT);
    return;
  }
  MessageBoxA(nullptr, USAGE_TEXT, "ZQ K9150 Setup", MB_OK);
}

// Windows knows only the switches of the switch walk.
int HostSwitch(const char*, int*) { return 0; }
