// The settings of one run, in one place. The entry and its switch walk are
// their only writer; messages, the tree walks and the installation read them.
#pragma once

#include "base/limits.h"

const int SHOW_NORMAL = 5;  // SW_SHOW
const int SHOW_HIDDEN = 0;  // SW_HIDE, after -s

struct Settings {
  int verbose;       // -v: diagnostic messages
  int silent;        // -s: no box and no status window
  int show_command;  // how started programs show their first window
  // For the vendor's setup, each argument led by a blank.
  char setup_arguments[PATH_SIZE];
  char module_file[PATH_SIZE];       // the running executable
  char module_directory[PATH_SIZE];  // its directory (current on Windows)
  void* instance;                    // for the status window's class
  int code_page;                     // of the names in archives (Linux: --codepage)
  const char* log_file;              // -log: the installation's log, or null for the default
  const char* command_line;          // as the program was given it, for that log
};

extern Settings settings;
