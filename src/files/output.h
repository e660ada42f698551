// A file written under a temporary name beside its final one, so that it
// appears under the final name only once it is complete: an archive or a
// piece that was cut off, by a failure or an interrupt, never passes for
// a whole one. Results as in fsops.h.
#pragma once

#include "os/fsops.h"

struct OutputFile {
  FileHandle file;
  char path[PATH_SIZE];       // the final name, as given
  char temporary[PATH_SIZE];  // beside it
};

// Makes the temporary file for path. Fails, with nothing made, when path
// could not be replaced at the end (a directory or a read-only file stands
// there) or its directory cannot be written.
int CreateOutput(const char* path, OutputFile* output);
// Closes the file and gives it the final name, replacing what stood there:
// 0, or -1 with the temporary file removed.
int CommitOutput(OutputFile* output);
// Closes the file and removes it; nothing when none is open. A temporary
// file that cannot be removed is named in a message. The system's last
// code stays as it was.
void AbandonOutput(OutputFile* output);
