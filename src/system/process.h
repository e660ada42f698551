// Starting programs and waiting for them; installing an INF section.
// Results as in os/fsops.h: 0, or -1 with the system's code.
#pragma once

// Starts program (a full path, so that nothing is searched for; null only
// where the command line's first word may be looked up) with command_line
// and waits for its end: 0 once it has ended, -1 when it could not be
// started (no message of its own).
int RunAndWait(const char* program, const char* command_line, int show);
// 0 when the installer was started and has ended; -1 after "Failed to
// launch %s." with the system's reason.
int InstallInfSection(const char* inf_file, const char* section, int show);
