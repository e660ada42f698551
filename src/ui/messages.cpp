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

bool Heard(MessageKind kind) { return kind != VERBOSE || settings.verbose; }

// Shows an already formatted text: 1 for OK or yes, 0 for Cancel or no.
// The log gets every text, shown or not.
static int Show(const char* text, MessageKind kind) {
  LogText("Message: ", text);
  if (settings.silent) return 1;
  // After Cancel nothing more is said; an interrupt still says what it undid.
  if (StopRequested() && !Interrupted()) return 0;
  bool question = kind == QUESTION;
  int button = message_hook ? message_hook(text) : question ? AskQuestion(text) : ShowMessageBox(text);
  if (button != BUTTON_CANCEL) return 1;
  if (!question) RequestStop(1);
  return 0;
}

int MessageVPrintf(MessageKind kind, const char* format, va_list args) {
  if (!Heard(kind)) return 1;
  char buffer[MESSAGE_BUFFER_SIZE];
  FormatText(buffer, format, args);
  return Show(buffer, kind);
}

int MessagePrintf(MessageKind kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = MessageVPrintf(kind, format, args);
  va_end(args);
  return result;
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

// Appends size bytes of text to buffer (length used of MESSAGE_BUFFER_SIZE),
// cut to fit.
static int Append(char* buffer, int length, const char* text, size_t size) {
  size_t room = (size_t)(MESSAGE_BUFFER_SIZE - 1 - length);
  if (size > room) size = room;
  memcpy(buffer + length, text, size);
  buffer[length + size] = '\0';
  return length + (int)size;
}

static int Append(char* buffer, int length, const char* text) { return Append(buffer, length, text, strlen(text)); }

// The action with the path where its "%s" stands; nothing is formatted.
static int AppendAction(char* buffer, int length, const char* action, const char* path) {
  const char* slot = action;
  while (*slot && !(slot[0] == '%' && slot[1] == 's')) ++slot;
  if (!*slot) return Append(buffer, length, action);
  length = Append(buffer, length, action, (size_t)(slot - action));
  length = Append(buffer, length, path);
  return Append(buffer, length, slot + 2);
}

int ComposeFailure(char* buffer, const char* action, const char* path, int code, FailureForm form) {
  char words[256];
  const char* reason = SystemErrorText(code, words, sizeof words);
  buffer[0] = '\0';
  if (form == CODE_FIRST) {
    // The reason is shorter than the buffer by far.
    int length = snprintf(buffer, MESSAGE_BUFFER_SIZE, "Error %d: %s", code, reason);
    return AppendAction(buffer, length, action, path);
  }
  int length = AppendAction(buffer, 0, action, path);
  length = Append(buffer, length, " ");
  length = Append(buffer, length, reason);
  return Append(buffer, length, ".");
}

int ReportFailure(const char* action, const char* path, FailureForm form) {
  // Read the code before anything else can change it.
  int code = LastSystemError();
  char buffer[MESSAGE_BUFFER_SIZE];
  ComposeFailure(buffer, action, path, code, form);
  return Show(buffer, FAILURE);
}

int OutOfMemory(const char* what) {
  MessagePrintf(FAILURE, "Out of memory for %s.", what);
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
