// Messages and the status line of the command-line build: everything on
// standard error; a terminal on standard input answers OK or Cancel.
#include <errno.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ui/messages_platform.h"

// The status line: the status text, and how far the whole has come where a
// progress runs. Only on a terminal, where it is rewritten in place; a log
// or a pipe gets the messages alone.
static int status_open_count = 0;
static int status_shown = 0;  // a status line is on the terminal now
static char status_text[MESSAGE_BUFFER_SIZE];
static int64_t files_total, bytes_total, files_done, bytes_done;
static int progress_running = 0;
static int complete_shown = 0;
static char progress_label[MESSAGE_BUFFER_SIZE];  // shown when no status window is open
static double last_drawn = 0;  // seconds, monotonic

static const double REDRAW_INTERVAL = 0.2;

static int StderrIsTerminal() { return isatty(2); }

static double Now() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void EraseStatusLine() {
  if (status_shown) {
    fputs("\r\033[K", stderr);
    fflush(stderr);
    status_shown = 0;
  }
}

static int TerminalColumns() {
  struct winsize size;
  return ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// "12.3 MB", or bytes while fewer than a megabyte.
static void FormatBytes(char* buffer, size_t size, int64_t bytes) {
  if (bytes < 1000000)
    snprintf(buffer, size, "%lld bytes", (long long)bytes);
  else
    snprintf(buffer, size, "%.1f MB", (double)bytes / 1e6);
}

// What is done of the whole, as "120/10000 files, 3.2 MB/46.0 MB, 7%".
static void FormatProgress(char* buffer, size_t size) {
  int used = files_total > 0 ? snprintf(buffer, size, "%lld/%lld files", (long long)files_done,
                                        (long long)files_total)
                             : snprintf(buffer, size, "%lld files", (long long)files_done);
  char done[32], total[32];
  FormatBytes(done, sizeof done, bytes_done);
  if (bytes_total > 0) {
    FormatBytes(total, sizeof total, bytes_total);
    used += snprintf(buffer + used, size - used, ", %s/%s", done, total);
  } else {
    used += snprintf(buffer + used, size - used, ", %s", done);
  }
  int64_t percent = bytes_total > 0   ? bytes_done * 100 / bytes_total
                    : files_total > 0 ? files_done * 100 / files_total
                                      : -1;
  if (percent > 100) percent = 100;
  if (percent >= 0) snprintf(buffer + used, size - used, ", %lld%%", (long long)percent);
}

// Draws the first line of the status text and the progress, cut to the
// terminal's width so that it never wraps; at most five times a second
// unless forced.
static void DrawStatusLine(int force) {
  if (!StderrIsTerminal()) return;
  double now = Now();
  if (!force && status_shown && now - last_drawn < REDRAW_INTERVAL) return;
  last_drawn = now;
  const char* text = status_open_count > 0 ? status_text : progress_label;
  const char* end = strchr(text, '\n');
  int length = end ? (int)(end - text) : (int)strlen(text);
  char line[MESSAGE_BUFFER_SIZE + 128];
  int used = snprintf(line, sizeof line, "%.*s", length, text);
  if (progress_running) {
    char progress[112];
    FormatProgress(progress, sizeof progress);
    snprintf(line + used, sizeof line - used, "  [%s]", progress);
  }
  fprintf(stderr, "\r\033[K%.*s", TerminalColumns() - 1, line);
  fflush(stderr);
  status_shown = 1;
}

int ProgressWanted() { return !settings.silent && StderrIsTerminal(); }

void ProgressBegin(const char* label, int64_t files, int64_t bytes) {
  if (settings.silent) return;
  snprintf(progress_label, sizeof progress_label, "%s", label ? label : "");
  files_total = files;
  bytes_total = bytes;
  files_done = bytes_done = 0;
  progress_running = 1;
  complete_shown = 0;
  DrawStatusLine(1);
}

void ProgressUpdate(int64_t files, int64_t bytes) {
  files_done = files;
  bytes_done = bytes;
  if (!progress_running) return;
  // The end is always shown, however soon it comes, and once.
  bool complete = (bytes_total > 0 && bytes >= bytes_total) ||
                  (bytes_total == 0 && files_total > 0 && files >= files_total);
  DrawStatusLine(complete && !complete_shown);
  if (complete) complete_shown = 1;
}

void ProgressEnd() {
  progress_running = 0;
  if (status_open_count == 0) EraseStatusLine();
}

// One line a member, as gzip -v has it; only in verbose mode.
void ReportPacked(const char* name, uint64_t input_size, uint64_t coded_size) {
  if (!settings.verbose || settings.silent) return;
  EraseStatusLine();
  if (input_size == 0)
    printf("%s: empty\n", name);
  else
    printf("%s: %" PRIu64 " -> %" PRIu64 " bytes, %.1f%%\n", name, input_size, coded_size,
           100.0 * (double)coded_size / (double)input_size);
  fflush(stdout);
}

void ReportUnpacked(const char* name, uint64_t size) {
  if (!settings.verbose || settings.silent) return;
  EraseStatusLine();
  printf("%s: %" PRIu64 " bytes\n", name, size);
  fflush(stdout);
}


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
  if ((status_open_count > 0 || progress_running) && button == BUTTON_OK) DrawStatusLine(1);
  return button;
}

StatusWindow StatusOpen(const char* text) {
  ++status_open_count;
  strncpy(status_text, text, sizeof status_text - 1);
  DrawStatusLine(1);
  return &status_open_count;
}

void StatusSetText(StatusWindow, const char* text) {
  strncpy(status_text, text, sizeof status_text - 1);
  DrawStatusLine(0);
}

int StatusDestroy(StatusWindow) {
  if (status_open_count > 0) --status_open_count;
  if (status_open_count == 0) {
    EraseStatusLine();
    progress_running = 0;
  }
  return 0;
}

void StatusAbandon() { EraseStatusLine(); }

int LastSystemError() { return errno; }
