// The installation sequence: what the Windows program does without an
// action switch.
#pragma once

// Returns the exit code, 0 or 1. Every failure stops it at once with a
// message that names the step, and takes away what it made.
int RunInstallation();

// Joins the package's pieces ZQK9150.001 to .003 of the current directory
// into ZQK9150.ZQA, when the first is there: 0, or 1 after a message.
int RejoinPieces();

// The process walk's callback that sets the int found flag at context when a
// module file name is exactly "_ISDEL.EXE" after its last separator.
int CleanupTaskCallback(unsigned long process_id, unsigned short task, const char* module_name,
                        void* context);
