// The portable half of user feedback: silent mode, Cancel, and
// the composition of error reports.
#include "ui/messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/messages_platform.h"

MessageHook message_hook = nullptr;

// Shows an already formatted text; Cancel ends the process with exit code 1.
static int ShowText(const char* text, int length) {
  if (settings.silent) return length;
  int button = message_hook ? message_hook(text) : ShowMessageBox(text);
  if (button == BUTTON_CANCEL) {
    StatusAbandon();
    exit(1);
  }
  return length;
}

int MessagePrintf(const char* format, ...) {
  char buffer[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  int length = FormatText(buffer, format, args);
  va_end(args);
  return ShowText(buffer, length);
}

void ErrorPrintf(const char* format, ...) {
  // Read the code before anything else can change it.
  int code = LastSystemError();
  char text[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  FormatText(text, format, args);
  va_end(args);
  char buffer[MESSAGE_BUFFER_SIZE];
  int length = snprintf(buffer, sizeof buffer, "Error %d: ", code);
  size_t room = MESSAGE_BUFFER_SIZE - 1 - length;
  size_t text_length = strlen(text);
  if (text_length > room) text_length = room;
  memcpy(buffer + length, text, text_length);
  length += (int)text_length;
  buffer[length] = '\0';
  // The composed text is shown as it is: a '%' in a file name stays.
  ShowText(buffer, length);
}

StatusWindow StatusPrintf(StatusWindow window, const char* format, ...) {
  char buffer[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  FormatText(buffer, format, args);
  va_end(args);
  if (settings.silent) return nullptr;
  if (window) {
    StatusSetText(window, buffer);
    return window;
  }
  return StatusOpen(buffer);
}

int StatusClose(StatusWindow* window) {
  if (settings.silent) return 0;
  int result = 0;
  if (*window) result = StatusDestroy(*window);
  *window = nullptr;
  return result;
}
