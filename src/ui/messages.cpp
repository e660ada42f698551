// The portable half of user feedback: silent mode, answers, and the
// composition of error reports.
#include "ui/messages.h"

#include <cstdio>
#include <cstring>

#include "ui/messages_platform.h"

MessageHook message_hook = nullptr;

static LogWriter log_writer = nullptr;
static void* log_context = nullptr;

void SetLogWriter(LogWriter writer, void* log) {
  log_writer = writer;
  log_context = log;
}

void LogText(const char* kind, const char* text) {
  if (log_writer) log_writer(log_context, kind, text);
}

void LogPrintf(const char* format, ...) {
  char buffer[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  FormatText(buffer, format, args);
  va_end(args);
  LogText("", buffer);
}

// Shows an already formatted text: 1 for OK or yes, 0 for Cancel or no.
// The log gets every text, shown or not.
static int Show(const char* text, bool question) {
  LogText("Message: ", text);
  if (settings.silent) return 1;
  // After Cancel nothing more is said; an interrupt still says what it undid.
  if (StopRequested() && !Interrupted()) return 0;
  int button = message_hook ? message_hook(text) : question ? AskQuestion(text) : ShowMessageBox(text);
  if (button != BUTTON_CANCEL) return 1;
  if (!question) RequestStop(1);
  return 0;
}

int MessagePrintf(const char* format, ...) {
  char buffer[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  FormatText(buffer, format, args);
  va_end(args);
  return Show(buffer, false);
}

void VerbosePrintf(const char* format, ...) {
  if (!settings.verbose || settings.silent) return;
  va_list args;
  va_start(args, format);
  PrintLine(format, args);
  va_end(args);
}

void OutputPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLine(format, args);
  va_end(args);
}

int QuestionPrintf(const char* format, ...) {
  char buffer[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  FormatText(buffer, format, args);
  va_end(args);
  return Show(buffer, true);
}

// Appends text to buffer (length used of MESSAGE_BUFFER_SIZE), cut to fit.
static int Append(char* buffer, int length, const char* text) {
  int room = MESSAGE_BUFFER_SIZE - 1 - length;
  int size = (int)strlen(text);
  if (size > room) size = room;
  memcpy(buffer + length, text, (size_t)size);
  buffer[length + size] = '\0';
  return length + size;
}

int FailurePrintf(const char* format, ...) {
  // Read the code before anything else can change it.
  int code = LastSystemError();
  char buffer[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  int length = FormatText(buffer, format, args);
  va_end(args);
  char reason[256];
  length = Append(buffer, length, " ");
  length = Append(buffer, length, SystemErrorText(code, reason, sizeof reason));
  Append(buffer, length, ".");
  return Show(buffer, false);
}

void ErrorPrintf(const char* format, ...) {
  int code = LastSystemError();
  char text[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  FormatText(text, format, args);
  va_end(args);
  char reason[256];
  char buffer[MESSAGE_BUFFER_SIZE];
  int length = snprintf(buffer, sizeof buffer, "Error %d: %s", code,
                        SystemErrorText(code, reason, sizeof reason));
  // The composed text is shown as it is: a '%' in a file name stays.
  Append(buffer, length, text);
  Show(buffer, false);
}

int OutOfMemory(const char* what) {
  MessagePrintf("Out of memory for %s.", what);
  return 0;
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
