// The installation sequence: what the program does without an action switch.
#pragma once

// Returns the exit code, 0 or 1.
int RunInstallation();
