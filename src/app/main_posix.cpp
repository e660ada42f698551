// The command-line entry point: every element of argv is one argument, as
// the shell gave it (quoting works, and there is no limit of nine).
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/entry.h"
#include "base/settings.h"
#include "os/platform.h"
#include "ui/messages.h"

static void RecordModuleFile(const char* argv0) {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length >= 0) {
    path[length] = '\0';
  } else if (!realpath(argv0, path)) {
    path[0] = '\0';
  }
  // A module path that does not fit stays empty rather than cut.
  if (strlen(path) < PATH_SIZE) strcpy(settings.module_file, path);
}

int main(int argc, char** argv) {
  WatchInterrupts();
  RecordModuleFile(argv[0]);
  static char placeholder[] = "setup";
  argv[0] = placeholder;  // slot 0 is never looked at
  return RunArguments(argv, argc);
}
