// The installation sequence: what the program does without an action switch.
#pragma once

// Returns the exit code, 0 or 1.
int RunInstallation();

// The process walk's callback that sets the int found flag at context when a
// module file name is exactly "_ISDEL.EXE" after its last separator.
int CleanupTaskCallback(unsigned long process_id, unsigned short task, const char* module_name,
                        void* context);
