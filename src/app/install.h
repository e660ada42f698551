// The installation sequence: what the Windows program does without an
// action switch.
#pragma once

// Returns the exit code, 0 or 1. Every failure stops it at once with a
// message that names the step, and takes away what it made. The log
// (settings.log_file, or %windir%\temp\ZQK9150.LOG) tells every step and
// message. another_running: another installation holds the lock, and this
// one only says so, in a box and at the end of the log.
int RunInstallation(bool another_running);

// Where InstallShield's setup writes its setup.log, given its arguments: the
// file that -f2 names, else setup.log beside the response file that -f1
// names, else beside default_path's (its setup.exe's) folder; quotes around a
// path go. 1 with that path (cut to size), or 0 when the arguments ask for
// no silent run (-s), which writes none.
int SetupLogPath(const char* arguments, const char* default_path, char* path, int size);

// Joins the package's pieces ZQK9150.001 to .003 of the current directory
// into ZQK9150.ZQA, when the first is there: 0, or 1 after a message.
int RejoinPieces();

// The process walk's callback that sets the int found flag at context when a
// module file name is exactly "_ISDEL.EXE" after its last separator.
int CleanupTaskCallback(unsigned long process_id, unsigned short task, const char* module_name,
                        void* context);
