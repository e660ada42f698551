// Self-removal elsewhere: a detached shell script in the temporary directory
// waits for the process to end, then deletes the executable, its directory
// when empty, and itself.
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"
#include "os/platform.h"
#include "system/selfremove.h"

static unsigned long TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (unsigned long)now.tv_sec * 1000 + (unsigned long)(now.tv_nsec / 1000000);
}

// Starts sh script in a new session, reparented away from this process so
// that it outlives it and leaves no zombie; 0 or -1.
static int StartDetached(const char* script) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    setsid();
    if (fork() != 0) _exit(0);
    setpriority(PRIO_PROCESS, 0, 19);  // held back, like an idle-class process
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) close(null);
    }
    if (chdir("/") != 0) _exit(127);
    execl("/bin/sh", "sh", script, (char*)nullptr);
    _exit(127);
  }
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return 0;
}

static int TooLong() {
  errno = ENAMETOOLONG;
  return -1;
}

int RemoveSelf() {
  char temp_dir[PATH_SIZE];
  if (ReadTempDir(temp_dir, PATH_SIZE) != 0) return -1;
  char script[PATH_SIZE];
  if (!MakeBatchName(temp_dir, TickCount(), ".sh", script, PATH_SIZE)) return TooLong();

  char module[PATH_SIZE];
  ssize_t module_length = readlink("/proc/self/exe", module, sizeof module);
  if (module_length < 0) return -1;
  if (module_length == 0 || module_length >= (ssize_t)sizeof module) return TooLong();
  module[module_length] = '\0';

  char text[2 * BATCH_TEXT_SIZE];
  int length = ComposeRemovalScript((long)getpid(), module, script, text, (int)sizeof text);
  if (length == 0) return TooLong();

  // The temporary directory is shared: a name planted there (a link) must
  // not be followed, so the script is always a new file of ours. What
  // cannot be unlinked makes the exclusive open fail.
  unlink(script);
  int file = open(script, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (file < 0) return -1;
  // A script that the system could not write whole would run cut: it goes.
  ssize_t written = write(file, text, (size_t)length);
  int code = written < 0 ? errno : written != length ? ENOSPC : 0;
  if (close(file) != 0 && code == 0) code = errno;
  if (code == 0 && StartDetached(script) != 0) code = errno;
  if (code != 0) {
    unlink(script);
    errno = code;
    return -1;
  }
  return 0;
}
