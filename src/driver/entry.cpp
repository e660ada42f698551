// The entry's portable half: command-line splitting and the switch walk.
#include "driver/entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/archive.h"
#include "driver/install.h"
#include "fileutil/deltree.h"
#include "fileutil/fsops.h"
#include "fileutil/longpath.h"
#include "fileutil/paths.h"
#include "media/floppy.h"
#include "media/split.h"
#include "system/admin.h"
#include "system/procenum.h"
#include "system/selfremove.h"
#include "ui/messages.h"

const char USAGE_TEXT[] =
    "\n"
    "ZQ K9150 keyboard driver setup.\n"
    "\n"
    "Usage:\n"
    "\n"
    "    setup [switches]\n"
    "\n"
    "Switches:\n"
    "  -a arch path\tCreate archive arch with all files in path.\n"
    "  -c name\t\tCut a file in pieces that fit on floppys.\n"
    "  -dt path\t\tDelete a directory tree.\n"
    "  -is {args}\t\tArguments to pass to Install Shield setup.\n"
    "  -f\t\tBuild a set of floppys.\n"
    "  -s\t\tSetup in silent mode. (Passed to IS.)\n"
    "  -x arch path\teXtraxt all files from archive arch to path.\n"
    "\n";

// The private copy of the command line that the slots point into. It lives
// until the process ends; a new split (tests split many lines) replaces it.
static char* command_copy = nullptr;
static char placeholder[] = "setup";

int SplitCommandLine(const char* line, char** slots, int slot_count) {
  slots[0] = placeholder;
  free(command_copy);
  size_t length = strlen(line);
  command_copy = (char*)malloc(length + 1);
  if (!command_copy) return 1;
  memcpy(command_copy, line, length + 1);

  int index = 1;
  char previous = '\0';
  for (char* p = command_copy; *p && index < slot_count; ++p) {
    if (*p == ' ' || *p == '\t') *p = '\0';
    if (*p != '\0' && previous == '\0') slots[index++] = p;
    previous = *p;
  }
  return index;
}

int ListProcessCallback(unsigned long process_id, unsigned short task, const char* module_name,
                        void* context) {
  CleanupTaskCallback(process_id, task, module_name, context);
  MessagePrintf("Process %d = %s", (int)process_id, module_name);
  return 1;
}

// Appends " " and word to the setup arguments; 0, or 1 (after a message)
// when they would not fit: a cut argument list would start setup wrongly.
static int AppendSetupArgument(const char* word) {
  size_t used = strlen(settings.setup_arguments);
  if (used + 1 + strlen(word) > PATH_SIZE - 1) {
    MessagePrintf("The arguments for setup are too long (at most %d characters).", PATH_SIZE - 1);
    return 1;
  }
  settings.setup_arguments[used] = ' ';
  strcpy(settings.setup_arguments + used + 1, word);
  return 0;
}

static void LowerCase(char* text) {
  for (; *text; ++text) *text = LowerLetter(*text);
}

static int Finish(int* exit_code, int value) {
  *exit_code = value;
  return 1;
}

static int Usage(int* exit_code) {
  ShowUsage();
  return Finish(exit_code, 1);
}

int WalkSwitches(char** slots, int count, int* exit_code) {
  for (int i = 1; i < count; ++i) {
    char* argument = slots[i];
    int values = count - i - 1;  // arguments that follow this one
    if (argument[0] != '-' && argument[0] != '/') {
      MessagePrintf("Unsupported argument: %s", argument);
      return Finish(exit_code, 1);
    }
    LowerCase(argument);
    const char* name = argument + 1;
    if (strcmp(name, "?") == 0) {
      ShowUsage();
      return Finish(exit_code, 0);
    } else if (strcmp(name, "a") == 0) {
      if (values < 2) return Usage(exit_code);
      int result = CreateArchive(slots[i + 1], slots[i + 2]);
      if (!settings.verbose && result == 0) MessagePrintf("Archive %s complete.", slots[i + 1]);
      return Finish(exit_code, result);
    } else if (strcmp(name, "c") == 0) {
      if (values < 1) return Usage(exit_code);
      return Finish(exit_code, SplitFile(slots[i + 1]));
    } else if (strcmp(name, "ds") == 0) {
      RemoveSelf();
      return Finish(exit_code, 0);
    } else if (strcmp(name, "dt") == 0) {
      if (values < 1) return Finish(exit_code, 1);
      char resolved[PATH_SIZE] = "";
      if (FullLongPath(slots[i + 1], resolved, PATH_SIZE) != 0 && resolved[0]) {
        MessagePrintf("About to delete directory %s", resolved);
        return Finish(exit_code, DeleteTree(slots[i + 1]));
      }
      MessagePrintf("Directory %s not found.", slots[i + 1]);
      return Finish(exit_code, 1);
    } else if (strcmp(name, "f") == 0) {
      return Finish(exit_code, BuildFloppySet());
    } else if (strcmp(name, "is") == 0) {
      for (int j = i + 1; j < count; ++j)
        if (AppendSetupArgument(slots[j])) return Finish(exit_code, 1);
      return 0;
    } else if (strcmp(name, "s") == 0) {
      if (AppendSetupArgument("-s")) return Finish(exit_code, 1);
      settings.show_command = SHOW_HIDDEN;
      settings.silent = 1;
    } else if (strcmp(name, "ta") == 0) {
      MessagePrintf(IsAdministrator() ? "You have admin rights" : "You DO NOT have admin rights");
      return Finish(exit_code, 0);
    } else if (strcmp(name, "tl") == 0) {
      if (values < 1) return Usage(exit_code);
      char resolved[PATH_SIZE] = "";
      if (FullLongPath(slots[i + 1], resolved, PATH_SIZE) == 0 || !resolved[0]) {
        MessagePrintf("Path %s cannot be resolved.", slots[i + 1]);
        return Finish(exit_code, 1);
      }
      MessagePrintf("LFN = %s", resolved);
      return Finish(exit_code, 0);
    } else if (strcmp(name, "tm") == 0) {
      StatusWindow window = StatusPrintf(nullptr, "Please wait...");
      MessagePrintf("Press OK to continue");
      StatusClose(&window);
      MessagePrintf("Did it disappear?");
      return Finish(exit_code, 0);
    } else if (strcmp(name, "tp") == 0) {
      int found = 0;
      EnumerateProcesses(ListProcessCallback, &found);
      MessagePrintf(found ? "Found" : "Not Found");
      return Finish(exit_code, 0);
    } else if (strcmp(name, "tr") == 0) {
      if (values < 1) return Usage(exit_code);
      int value = slots[i + 1][0] - '0';
      MessagePrintf("About to return exit code %d", value);
      return Finish(exit_code, value);
    } else if (strcmp(name, "v") == 0) {
      settings.verbose = 1;
    } else if (strcmp(name, "x") == 0) {
      if (values < 2) return Usage(exit_code);
      int result = ExtractArchive(slots[i + 1], slots[i + 2]);
      if (!settings.verbose && result == 0) MessagePrintf("Extraction is complete.");
      return Finish(exit_code, result);
    } else if (!HostSwitch(argument, exit_code)) {
      MessagePrintf("Unsupported argument: %s", argument);
      return Finish(exit_code, 1);
    } else {
      return 1;
    }
  }
  return 0;
}

int RunProgram(const char* command_line) {
  ChangeDrive(settings.module_file[0]);
  strcpy(settings.module_directory, settings.module_file);
  char* base = (char*)BaseName(settings.module_directory);
  if (base > settings.module_directory) base[-1] = '\0';
  EnterDirectory(settings.module_directory);

  char* slots[ARGUMENT_SLOTS];
  int count = SplitCommandLine(command_line, slots, ARGUMENT_SLOTS);
  int exit_code = 0;
  if (WalkSwitches(slots, count, &exit_code)) return exit_code;
  return RunInstallation();
}
