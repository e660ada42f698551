// The entry's state and the switch walk, shared with the installation sequence.
#pragma once

const int PATH_SIZE = 260;  // Windows path limit, terminator included
const int ARGUMENT_SLOTS = 10;

extern char module_file[PATH_SIZE];
extern char module_directory[PATH_SIZE];
extern char setup_arguments[PATH_SIZE];
extern int show_command;  // SW_SHOW 5, SW_HIDE 0 after -s

const int SHOW_NORMAL = 5;
const int SHOW_HIDDEN = 0;

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

// The part of path after its last separator (backslash or slash).
const char* BaseName(const char* path);

// Compares two texts with the letters A to Z taken as a to z.
bool SameTextIgnoringCase(const char* a, const char* b);

// Makes the drive of letter current: 0, or -1 when it cannot be.
int ChangeDrive(char letter);

// 1 when the file can be opened for reading, else 0.
int FileExists(const char* name);

// Process walk callbacks: context is the address of an int found flag.
int CleanupTaskCallback(unsigned long process_id, unsigned short task,
                        const char* module_name, void* context);
int ListProcessCallback(unsigned long process_id, unsigned short task,
                        const char* module_name, void* context);
