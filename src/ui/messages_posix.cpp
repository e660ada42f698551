// Messages and the status line of the command-line build, on standard
// error. Only a question waits for an answer, and only on a terminal.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ui/messages_platform.h"

const char TREE_QUESTION[] = "Delete directory %s and everything in it?";

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
static double last_drawn = 0;                     // seconds, monotonic

static const double REDRAW_INTERVAL = 0.2;

// Asked once: the progress asks for every file.
static int StderrIsTerminal() {
  static const int terminal = isatty(2);
  return terminal;
}

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

// Draws the first line of the status text and the progress within the
// terminal's width, so that it never wraps: a long text loses its middle,
// the counters stay whole. At most five times a second unless forced.
static void DrawStatusLine(int force) {
  if (!StderrIsTerminal()) return;
  double now = Now();
  if (!force && status_shown && now - last_drawn < REDRAW_INTERVAL) return;
  last_drawn = now;
  const char* text = status_open_count > 0 ? status_text : progress_label;
  const char* end = strchr(text, '\n');
  int length = end ? (int)(end - text) : (int)strlen(text);
  char counters[128] = "";
  if (progress_running) {
    char progress[112];
    FormatProgress(progress, sizeof progress);
    snprintf(counters, sizeof counters, "  [%s]", progress);
  }
  int room = TerminalColumns() - 1 - (int)strlen(counters);
  if (room < 0) room = 0;
  if (length <= room) {
    fprintf(stderr, "\r\033[K%.*s%s", length, text, counters);
  } else if (room >= 8) {
    int head = (room - 3) / 2, tail = room - 3 - head;
    fprintf(stderr, "\r\033[K%.*s...%.*s%s", head, text, tail, text + length - tail, counters);
  } else {
    fprintf(stderr, "\r\033[K%.*s", TerminalColumns() - 1, counters[0] ? counters + 2 : text);
  }
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
  bool complete = (bytes_total == 0 || bytes >= bytes_total) && (files_total == 0 || files >= files_total) &&
                  (bytes_total > 0 || files_total > 0);
  DrawStatusLine(complete && !complete_shown);
  if (complete) complete_shown = 1;
}

void ProgressEnd() {
  progress_running = 0;
  if (status_open_count == 0) EraseStatusLine();
}

void PrintLine(const char* format, va_list args) {
  EraseStatusLine();
  vprintf(format, args);
  fputc('\n', stdout);
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

static void PutLine(const char* text) {
  EraseStatusLine();
  size_t length = strlen(text);
  fputs(text, stderr);
  if (length == 0 || text[length - 1] != '\n') fputc('\n', stderr);
  fflush(stderr);
}

int ShowMessageBox(const char* text) {
  PutLine(text);
  if (status_open_count > 0 || progress_running) DrawStatusLine(1);
  return BUTTON_OK;
}

// The question is asked on the terminal that answers it, even when standard
// error goes to a file; without a terminal there is nobody to say yes.
int AskQuestion(const char* text) {
  EraseStatusLine();
  if (!isatty(0)) {
    fprintf(stderr, "%s [y/N] no: standard input is not a terminal\n", text);
    fflush(stderr);
    return BUTTON_CANCEL;
  }
  int out = isatty(2) ? 2 : open("/dev/tty", O_WRONLY | O_CLOEXEC);
  if (out < 0) out = 2;
  dprintf(out, "%s [y/N] ", text);
  // An interrupt ends the wait at once, even one that came just before it:
  // the signals are held until the wait begins.
  sigset_t watched, before;
  sigemptyset(&watched);
  static const int held[] = {SIGINT, SIGTERM, SIGHUP};
  for (int signal_number : held) sigaddset(&watched, signal_number);
  sigprocmask(SIG_BLOCK, &watched, &before);
  struct pollfd input = {0, POLLIN, 0};
  int ready = StopRequested() ? -1 : ppoll(&input, 1, nullptr, &before);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  char answer[64] = "";
  ssize_t got = ready > 0 ? read(0, answer, sizeof answer - 1) : 0;
  if (StopRequested()) dprintf(out, "\n");
  if (out != 2) close(out);
  answer[got > 0 ? got : 0] = '\0';
  answer[strcspn(answer, "\r\n")] = '\0';
  for (char* c = answer; *c; ++c)
    if (*c >= 'A' && *c <= 'Z') *c = (char)(*c - 'A' + 'a');
  return strcmp(answer, "y") == 0 || strcmp(answer, "yes") == 0 ? BUTTON_OK : BUTTON_CANCEL;
}

StatusWindow StatusOpen(const char* text) {
  ++status_open_count;
  snprintf(status_text, sizeof status_text, "%s", text);
  DrawStatusLine(1);
  return &status_open_count;
}

void StatusSetText(StatusWindow, const char* text) {
  snprintf(status_text, sizeof status_text, "%s", text);
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
