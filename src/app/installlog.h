// The installation's log: a text file outside the target directory, so
// that it outlives the target's removal, written entry by entry as the run
// goes, so that a run that failed, hangs or was ended can be read later.
#pragma once

#include "os/fsops.h"

struct InstallLog {
  FileHandle file;
};

// Opens the log at path and makes it the message channel's log. fresh: what
// stood under the name goes first (a link itself, never what it leads to)
// and the log is made anew; otherwise the entries go after what is there
// (another installation's log), never into a file of more than one name. A
// log that cannot be opened, or later written, is left out: the
// installation goes on without it.
void OpenInstallLog(InstallLog* log, const char* path, bool fresh);
// Ends the channel's log and closes the file.
void CloseInstallLog(InstallLog* log);
