// The command-line entry point: the arguments are joined with single blanks
// and split again, so that both builds accept the same lines.
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/entry.h"
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
  RecordModuleFile(argv[0]);
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return RunProgram(line.c_str());
}
