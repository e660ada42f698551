// The entry and its switch walk.
#pragma once

const int ARGUMENT_SLOTS = 10;

// Everything after the module file has been recorded: make the module's
// drive and directory current, split the line, walk it, run the action or
// the installation. Returns the exit code.
int RunProgram(const char* command_line);

// Splits a copy of line at blanks and tabs into slots 1.. of slots; slot 0
// gets a placeholder. The ninth argument keeps the rest of the line.
// Returns the number of slots used (at least 1).
int SplitCommandLine(const char* line, char** slots, int slot_count);

// Walks slots 1..count-1. Returns 1 when an action (or an error) ended the
// walk, with its exit code in *exit_code; 0 when the walk ended without an
// action, so that the installation is to run.
int WalkSwitches(char** slots, int count, int* exit_code);

// The usage box: caption "ZQ K9150 Setup", OK only, shown even in silent mode.
void ShowUsage();
extern const char USAGE_TEXT[];

// A switch that only the platform's build knows (--help, -h and --version
// on Linux, as shell users expect): 1 with its exit code set when it was
// one and has been answered, else 0.
int HostSwitch(const char* argument, int* exit_code);

// The -tp callback: lists each process and sets the int found flag at
// context when the clean-up task is among them.
int ListProcessCallback(unsigned long process_id, unsigned short task, const char* module_name,
                        void* context);
