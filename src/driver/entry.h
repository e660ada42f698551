// The entry and its switch walk.
#pragma once

const int ARGUMENT_SLOTS = 10;

// Everything after the module file has been recorded: make the module's
// directory current where the platform wants it, split the line, walk it,
// run the action or the installation. Returns the exit code: the action's
// result, or the run's stop's exit code when one was asked for.
int RunProgram(const char* command_line);

// Splits the writable line in place at blanks and tabs into slots 1.. of
// slots; slot 0 gets a placeholder. The ninth argument keeps the rest of the
// line. Returns the number of slots used (at least 1).
int SplitCommandLine(char* line, char** slots, int slot_count);

// A switch: its name after "-" or "/" in lower case, the values it takes
// (VALUES_REST: all that follow), and its handler, given them, which
// returns the exit code, or WALK_ON for a setting after which the walk goes
// on, or RUN_INSTALLATION. Too few values show the usage and end with 1,
// unless quiet_when_short says to end with 1 without a word.
const int VALUES_REST = -1;
const int WALK_ON = -1000;
const int RUN_INSTALLATION = -1001;
struct Switch {
  const char* name;
  int values;
  int (*run)(char** values, int count);
  bool quiet_when_short;
  const char* arguments;  // for --help: what the values are, and what it does
  const char* help;
};

// The switches of both builds, and those of the platform's own (Linux:
// --help, --version, --list, --test), each ended by a null name.
extern const Switch SWITCHES[];
extern const Switch HOST_SWITCHES[];

// The usage box: caption "ZQ K9150 Setup", OK only, shown even in silent
// mode; standard output on Linux. The platform shows the text.
void ShowUsage();
void ShowUsageText(const char* text);
extern const char USAGE_TEXT[];

// What the platform does around the walk: making the program's folder
// current (Windows, where relative names are taken beside the program), and
// what runs when no switch named an action.
void EnterProgramDirectory();
int RunWithoutAction();

// The -tp callback: lists each process and sets the int found flag at
// context when the clean-up task is among them.
int ListProcessCallback(unsigned long process_id, unsigned short task, const char* module_name,
                        void* context);
