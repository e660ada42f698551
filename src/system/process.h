// Starting programs and waiting for them; installing an INF section.
#pragma once

// Non-zero when the process was started (it has ended by the return).
int RunAndWait(const char* command_line, int show);
// Non-zero when the installer was started and has ended; 0 after
// "Failed to launch %s".
int InstallInfSection(const char* inf_file, const char* section, int show);
