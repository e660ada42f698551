// The command-line entry point: the arguments are joined with single blanks
// and split again, so that both builds accept the same lines.
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "driver/entry.h"
#include "fileutil/memory.h"
#include "ui/messages.h"
#include "ui/settings.h"

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
  size_t length = 1;
  for (int i = 1; i < argc; ++i) length += strlen(argv[i]) + 1;
  char* line = static_cast<char*>(AllocateMemory(length));
  if (!line) {
    OutOfMemory("the command line");
    return 1;
  }
  line[0] = '\0';
  for (int i = 1; i < argc; ++i) {
    if (i > 1) strcat(line, " ");
    strcat(line, argv[i]);
  }
  int exit_code = RunProgram(line);
  FreeMemory(line);
  return exit_code;
}
