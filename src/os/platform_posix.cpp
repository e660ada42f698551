// The system's services besides files, on a POSIX system: one tree without
// drives, no Windows or system directory.
#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "os/platform.h"

#include "base/stop.h"

int ReadCurrentDir(char* buffer, int size) { return getcwd(buffer, size) ? 0 : -1; }

int EnterDirectory(const char* path) { return chdir(path) == 0 ? 0 : -1; }

int ChangeDrive(char) { return 0; }

int ReadWindowsDir(char* buffer, int) {
  buffer[0] = '\0';
  errno = ENOENT;
  return -1;
}

int SystemFilePath(const char*, char* buffer, int) {
  buffer[0] = '\0';
  errno = ENOENT;
  return -1;
}

int WindowsFilePath(const char* name, char* buffer, int size) {
  return SystemFilePath(name, buffer, size);
}

int ReadTempDir(char* buffer, int size) {
  const char* dir = getenv("TMPDIR");
  if (!dir || !dir[0]) dir = "/tmp";
  size_t length = strlen(dir);
  int slash = dir[length - 1] != '/';
  if ((int)(length + slash) >= size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  strcpy(buffer, dir);
  if (slash) strcat(buffer, "/");
  return 0;
}

void PauseMs(int milliseconds) {
  struct timespec delay = {milliseconds / 1000, (long)(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

void ReadLocalTime(LocalTime* now) {
  time_t seconds = time(nullptr);
  struct tm local;
  localtime_r(&seconds, &local);
  *now = {(unsigned short)(local.tm_year + 1900), (unsigned short)(local.tm_mon + 1), (unsigned short)local.tm_wday,
          (unsigned short)local.tm_mday, (unsigned short)local.tm_hour, (unsigned short)local.tm_min,
          (unsigned short)local.tm_sec, 0};
}

int ProcessorCount() {
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? (int)count : 1;
}

static void AskToStop(int signal_number) { RequestStop(128 + signal_number); }

void WatchInterrupts() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = AskToStop;
  // System calls go on; the work stops where it looks at the stop. A second
  // signal ends the process at once.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  static const int watched[] = {SIGINT, SIGTERM, SIGHUP};
  for (int signal_number : watched) sigaction(signal_number, &action, nullptr);
}
