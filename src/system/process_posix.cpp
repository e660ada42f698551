// Starting programs and waiting for them on a POSIX system. The command line
// is split at blanks and tabs as the program splits its own (no shell, no
// quoting); without a program, its first word is looked up in PATH.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

#include "system/process.h"
#include "ui/messages.h"

extern char** environ;

static std::vector<std::string> SplitWords(const char* line) {
  std::vector<std::string> words;
  std::string word;
  for (const char* p = line;; ++p) {
    if (*p == '\0' || *p == ' ' || *p == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*p == '\0') break;
    } else {
      word += *p;
    }
  }
  return words;
}

int RunAndWait(const char* program, const char* command_line, int) {
  MessagePrintf(VERBOSE, "Running %s", command_line);
  std::vector<std::string> words = SplitWords(command_line);
  if (words.empty()) {
    errno = ENOENT;  // nothing to start
    return -1;
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  pid_t child;
  int spawned = program ? posix_spawn(&child, program, nullptr, nullptr, argv.data(), environ)
                        : posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
  if (spawned != 0) {
    errno = spawned;
    return -1;
  }
  int status, waited;
  while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (waited < 0) return -1;
  MessagePrintf(VERBOSE, "%s terminated.", command_line);
  return 0;
}

// There is no setup engine to hand an INF section to, and no system's
// reason to give.
int InstallInfSection(const char* inf_file, const char*, int) {
  MessagePrintf(FAILURE, "Failed to launch %s", inf_file);
  return -1;
}
