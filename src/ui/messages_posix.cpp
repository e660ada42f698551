// Messages and the status line of the command-line build: everything on
// standard error; a terminal on standard input answers OK or Cancel.
#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "ui/messages_platform.h"

static int status_open_count = 0;
static int status_shown = 0;  // a status line is on the terminal now

static int StderrIsTerminal() { return isatty(2); }

static void EraseStatusLine() {
  if (status_shown) {
    fputs("\r\033[K", stderr);
    status_shown = 0;
  }
}

// The first line of the text, as the status line shows it.
static void WriteStatus(const char* text) {
  const char* end = strchr(text, '\n');
  int length = end ? (int)(end - text) : (int)strlen(text);
  if (StderrIsTerminal()) {
    fprintf(stderr, "\r\033[K%.*s", length, text);
    status_shown = 1;
  } else {
    fprintf(stderr, "%.*s\n", length, text);
  }
  fflush(stderr);
}

static char status_text[MESSAGE_BUFFER_SIZE];

int FormatText(char* buffer, const char* format, va_list args) {
  int length = vsnprintf(buffer, MESSAGE_BUFFER_SIZE, format, args);
  if (length < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return length < MESSAGE_BUFFER_SIZE ? length : MESSAGE_BUFFER_SIZE - 1;
}

int ShowMessageBox(const char* text) {
  EraseStatusLine();
  size_t length = strlen(text);
  fputs(text, stderr);
  if (length == 0 || text[length - 1] != '\n') fputc('\n', stderr);
  int button = BUTTON_OK;
  if (isatty(0)) {
    fputs("[Enter: OK, c: Cancel] ", stderr);
    fflush(stderr);
    char answer[64];
    if (!fgets(answer, sizeof answer, stdin) || answer[0] == 'c' || answer[0] == 'C')
      button = BUTTON_CANCEL;
  }
  fflush(stderr);
  if (status_open_count > 0 && button == BUTTON_OK && StderrIsTerminal()) WriteStatus(status_text);
  return button;
}

StatusWindow StatusOpen(const char* text) {
  ++status_open_count;
  strncpy(status_text, text, sizeof status_text - 1);
  WriteStatus(status_text);
  return &status_open_count;
}

void StatusSetText(StatusWindow, const char* text) {
  strncpy(status_text, text, sizeof status_text - 1);
  WriteStatus(status_text);
}

int StatusDestroy(StatusWindow) {
  if (status_open_count > 0) --status_open_count;
  if (status_open_count == 0) EraseStatusLine();
  fflush(stderr);
  return 0;
}

void StatusAbandon() { EraseStatusLine(); }

int LastSystemError() { return errno; }
