// The entry and its switch walk.
#pragma once

const int ARGUMENT_SLOTS = 10;

// Everything after the module file has been recorded: make the module's
// directory current where the platform wants it, split the line, walk it,
// run the action or the installation. Returns the exit code: the action's
// result, or the run's stop's exit code when one was asked for.
int RunProgram(const char* command_line);
// The same with the arguments already apart (a shell's argv): slots 1 to
// count - 1, writable; slot 0 is not looked at.
int RunArguments(char** slots, int count);

// Splits the writable line in place at blanks and tabs into slots 1.. of
// slots; slot 0 gets a placeholder. The ninth argument keeps the rest of the
// line. Returns the number of slots used (at least 1).
int SplitCommandLine(char* line, char** slots, int slot_count);

// A switch: its name after "-" or "/" in lower case, the values it takes
// (VALUES_REST: all that follow), and its handler, given them, which
// returns the exit code, or WALK_ON for a setting after which the walk goes
// on, or RUN_INSTALLATION. Too few values end with 1 (see WalkRules).
const int VALUES_REST = -1;
const int WALK_ON = -1000;
const int RUN_INSTALLATION = -1001;
// What a switch is, beside an action: flags.
const int SWITCH_QUIET_WHEN_SHORT = 1;  // too few values end without the usage
const int SWITCH_SETTING = 2;           // the walk goes on after it
const int SWITCH_ALONE = 4;             // nothing may follow its values, on any build
struct Switch {
  const char* name;
  int values;
  int (*run)(char** values, int count);
  int flags;
  const char* arguments;  // for --help: what the values are, and what it does
  const char* help;
};

// The switches of both builds, and those of the platform's own (Linux:
// --help, --version, --list, --test), each ended by a null name.
extern const Switch SWITCHES[];
extern const Switch HOST_SWITCHES[];

// How each build walks (host_*.cpp). Windows keeps the original walk: words
// after an action's values are not looked at, too few values show the usage
// (or, for -dt, nothing). A shell user gets more: one action a run and
// nothing after its values, missing values named, a hint at the help, and
// -ds asks first.
struct WalkRules {
  bool one_action;
  const char* help_hint;  // ends the messages about the line
};
extern const WalkRules WALK_RULES;
// Too few values after argument, which names entry: given of them.
void TellMissingValues(const Switch* entry, const char* argument, int given);
// -ds: 1 when the program may remove itself (Windows: always, as it was).
int ConfirmRemovingItself();

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
