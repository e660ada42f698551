// Starting programs and waiting for them; installing an INF section.
#pragma once

// Starts program (a full path, so that nothing is searched for; null only
// where the command line's first word may be looked up) with command_line
// and waits for its end: non-zero when it was started, 0 when it was not.
int RunAndWait(const char* program, const char* command_line, int show);
// Non-zero when the installer was started and has ended; 0 after
// "Failed to launch %s".
int InstallInfSection(const char* inf_file, const char* section, int show);
