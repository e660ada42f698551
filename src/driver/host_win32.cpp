// Drive changes and the usage box on Windows.
#include <direct.h>
#include <windows.h>

#include "driver/entry.h"
#include "ui/messages.h"

int ChangeDrive(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  return _chdrive(letter - 64) == 0 ? 0 : -1;
}

void ShowUsage() {
  if (message_hook) {
    message_hook(USAGE_TEXT);
    return;
  }
  MessageBoxA(nullptr, USAGE_TEXT, "ZQ K9150 Setup", MB_OK);
}
