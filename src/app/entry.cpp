// The entry's portable half: command-line splitting, the switches of both
// builds and the walk over them.
#include "app/entry.h"

#include <cstdio>
#include <cstring>

#include "app/install.h"
#include "archive/archive.h"
#include "base/text.h"
#include "files/deltree.h"
#include "media/floppy.h"
#include "media/split.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/memory.h"
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
    "  -log path\t\tWrite the installation's log to path.\n"
    "  -s\t\tSetup in silent mode. (Passed to IS.)\n"
    "  -x arch path\teXtraxt all files from archive arch to path.\n"
    "\n";

void ShowUsage() {
  if (message_hook) {
    message_hook(USAGE_TEXT);
    return;
  }
  ShowUsageText(USAGE_TEXT);
}

int SplitCommandLine(char* line, char** slots, int slot_count) {
  static char placeholder[] = "setup";
  slots[0] = placeholder;
  int index = 1;
  char previous = '\0';
  for (char* p = line; *p && index < slot_count; ++p) {
    if (*p == ' ' || *p == '\t') *p = '\0';
    if (*p != '\0' && previous == '\0') slots[index++] = p;
    previous = *p;
  }
  return index;
}

int ListProcessCallback(unsigned long process_id, unsigned short task, const char* module_name,
                        void* context) {
  CleanupTaskCallback(process_id, task, module_name, context);
  // Cancel stops the listing.
  return MessagePrintf(NEWS, "Process %d = %s", (int)process_id, module_name);
}

namespace {

// Appends " " and word to the setup arguments; 0, or 1 (after a message)
// when they would not fit: a cut argument list would start setup wrongly.
int AppendSetupArgument(const char* word) {
  size_t used = strlen(settings.setup_arguments);
  if (used + 1 + strlen(word) > PATH_SIZE - 1) {
    MessagePrintf(FAILURE, "The arguments for setup are too long (at most %d characters).", PATH_SIZE - 1);
    return 1;
  }
  settings.setup_arguments[used] = ' ';
  strcpy(settings.setup_arguments + used + 1, word);
  return 0;
}

int Usage(char**, int) {
  ShowUsage();
  return 0;
}

int Pack(char** values, int) {
  int result = CreateArchive(values[0], values[1]);
  if (result == 0) MessagePrintf(NEWS, "Archive %s complete.", values[0]);
  return result;
}

int Unpack(char** values, int) {
  int result = ExtractArchive(values[0], values[1]);
  if (result == 0) MessagePrintf(NEWS, "Extraction is complete.");
  return result;
}

int Cut(char** values, int) { return SplitFile(values[0]); }

int Floppies(char**, int) { return BuildFloppySet(); }

int RemoveItself(char**, int) {
  if (!ConfirmRemovingItself()) return 1;
  if (RemoveSelf() == 0) return 0;
  ReportFailure("Cannot arrange the removal of %s once it has ended.", settings.module_file);
  return 1;
}

int RemoveTree(char** values, int) {
  char resolved[PATH_SIZE] = "";
  if (FullLongPath(values[0], resolved, PATH_SIZE) != 0) {
    MessagePrintf(FAILURE, "Directory %s not found.", values[0]);
    return 1;
  }
  Directory dir;
  if (OpenDirectory(resolved, &dir) != 0) {
    MessagePrintf(FAILURE, "%s is not a directory; nothing is deleted.", resolved);
    return 1;
  }
  CloseDirectory(&dir);
  if (!MessagePrintf(QUESTION, TREE_QUESTION, resolved)) return 1;
  return DeleteTree(values[0]);
}

int SetupArguments(char** values, int count) {
  for (int j = 0; j < count; ++j)
    if (AppendSetupArgument(values[j])) return 1;
  return RUN_INSTALLATION;
}

int Silent(char**, int) {
  if (AppendSetupArgument("-s")) return 1;
  settings.show_command = SHOW_HIDDEN;
  settings.silent = 1;
  return WALK_ON;
}

int LogFile(char** values, int) {
  settings.log_file = values[0];
  return WALK_ON;
}

int Verbose(char**, int) {
  settings.verbose = 1;
  return WALK_ON;
}

int AdminCheck(char**, int) {
  MessagePrintf(NEWS, IsAdministrator() ? "You have admin rights" : "You DO NOT have admin rights");
  return 0;
}

int LongName(char** values, int) {
  char resolved[PATH_SIZE] = "";
  if (FullLongPath(values[0], resolved, PATH_SIZE) != 0) {
    MessagePrintf(FAILURE, "Path %s cannot be resolved.", values[0]);
    return 1;
  }
  MessagePrintf(NEWS, "LFN = %s", resolved);
  return 0;
}

int StatusTest(char**, int) {
  StatusWindow window = StatusPrintf(nullptr, "Please wait...");
  MessagePrintf(NEWS, "Press OK to continue");
  StatusClose(&window);
  MessagePrintf(NEWS, "Did it disappear?");
  return 0;
}

int Processes(char**, int) {
  int found = 0;
  if (EnumerateProcesses(ListProcessCallback, &found) != 0) {
    ReportFailure("Cannot list the running processes to look for %s.", "_ISDEL.EXE");
    return 1;
  }
  MessagePrintf(NEWS, found ? "Found" : "Not Found");
  return 0;
}

int ReturnCode(char** values, int) {
  int value = values[0][0] - '0';
  MessagePrintf(NEWS, "About to return exit code %d", value);
  return value;
}

const Switch* Find(const Switch* table, const char* name) {
  for (; table->name; ++table)
    if (strcmp(table->name, name) == 0) return table;
  return nullptr;
}

// Walks slots 1..count-1: the exit code of the action (or of an error) that
// ended the walk, or RUN_INSTALLATION when the walk ended without one.
int WalkSwitches(char** slots, int count) {
  for (int i = 1; i < count; ++i) {
    char* argument = slots[i];
    if (argument[0] != '-' && argument[0] != '/') {
      MessagePrintf(FAILURE, "Unsupported argument: %s%s", argument, WALK_RULES.help_hint);
      return 1;
    }
    for (char* c = argument; *c; ++c) *c = LowerLetter(*c);
    const Switch* entry = Find(SWITCHES, argument + 1);
    if (!entry) entry = Find(HOST_SWITCHES, argument + 1);
    if (!entry) {
      MessagePrintf(FAILURE, "Unsupported argument: %s%s", argument, WALK_RULES.help_hint);
      return 1;
    }
    int values = count - i - 1;  // arguments that follow this one
    int wanted = entry->values == VALUES_REST ? values : entry->values;
    if (values < wanted) {
      TellMissingValues(entry, argument, values);
      return 1;
    }
    bool last = (entry->flags & SWITCH_ALONE) || (WALK_RULES.one_action && !(entry->flags & SWITCH_SETTING));
    if (last && values > wanted) {
      MessagePrintf(FAILURE, "Unexpected argument \"%s\" after %s%s%s; nothing is done%s.", slots[i + wanted + 1], argument,
                    entry->arguments[0] ? " " : "", entry->arguments, WALK_RULES.help_hint);
      return 1;
    }
    int result = entry->run(slots + i + 1, wanted);
    if (result != WALK_ON) return result;
    i += wanted;  // a setting's values are its own
  }
  return RUN_INSTALLATION;
}

}  // namespace

// The order of the walk's comparisons, and the help of the Linux build.
const Switch SWITCHES[] = {
    {"?", 0, Usage, 0, "", "show the usage text, even in silent mode"},
    {"a", 2, Pack, 0, "arch path", "pack the tree path into the archive arch"},
    {"c", 1, Cut, 0, "name", "cut name into floppy-sized pieces: a.txt gives a.001, ..."},
    {"ds", 0, RemoveItself, 0, "", "remove the program and its folder once it has ended"},
    // A path with blanks, split on Windows, would name another tree.
    {"dt", 1, RemoveTree, SWITCH_QUIET_WHEN_SHORT | SWITCH_ALONE, "path", "delete the tree path after asking"},
    {"f", 0, Floppies, 0, "", "write the floppy set of ZQK9150.INF's [SourceDisksFiles]"},
    {"is", VALUES_REST, SetupArguments, 0, "args...", "pass the rest of the line to InstallShield's setup"},
    {"log", 1, LogFile, SWITCH_SETTING, "path", "write the installation's log to path (Windows)"},
    {"s", 0, Silent, SWITCH_SETTING, "", "silent: no messages; questions are answered yes"},
    {"ta", 0, AdminCheck, 0, "", "tell whether the user has administrator rights"},
    {"tl", 1, LongName, 0, "path", "show the full long form of path"},
    {"tm", 0, StatusTest, 0, "", "show the status window around a message"},
    {"tp", 0, Processes, 0, "", "list the running processes, and look for _ISDEL.EXE"},
    {"tr", 1, ReturnCode, 0, "c", "end with the exit code c minus '0'"},
    {"v", 0, Verbose, SWITCH_SETTING, "", "verbose: diagnostic messages, one line a file"},
    {"x", 2, Unpack, 0, "arch path", "unpack the archive arch into path"},
    {nullptr, 0, nullptr, 0, nullptr, nullptr},
};

int RunArguments(char** slots, int count) {
  char* base = (char*)BaseName(strcpy(settings.module_directory, settings.module_file));
  if (base > settings.module_directory) base[-1] = '\0';
  EnterProgramDirectory();
  int exit_code = WalkSwitches(slots, count);
  if (exit_code == RUN_INSTALLATION) exit_code = RunWithoutAction();
  return StopRequested() ? StopRequested() : exit_code;
}

int RunProgram(const char* command_line) {
  settings.command_line = command_line;
  // The slots point into a copy of the line, which lives until the run ends.
  size_t length = strlen(command_line);
  char* line = static_cast<char*>(AllocateMemory(length + 1));
  if (!line) {
    OutOfMemory("the command line");
    return 1;
  }
  memcpy(line, command_line, length + 1);
  char* slots[ARGUMENT_SLOTS];
  int count = SplitCommandLine(line, slots, ARGUMENT_SLOTS);
  int exit_code = RunArguments(slots, count);
  FreeMemory(line);
  return exit_code;
}
