// Outputs written under a temporary name and renamed once whole.
#include "files/output.h"

#include <cstdio>
#include <cstring>

#include "ui/messages.h"

int CreateOutput(const char* path, OutputFile* output) {
  output->file.value = NO_FILE;
  output->temporary[0] = '\0';
  if (strlen(path) >= sizeof output->path) {
    SetSystemError(NameTooLongCode());
    return -1;
  }
  strcpy(output->path, path);
  if (CanReplaceAt(nullptr, path) != 0) return -1;
  // A name left by a run that was killed is not ours to reuse.
  for (int attempt = 0; attempt < 100; attempt++) {
    int length = snprintf(output->temporary, sizeof output->temporary, "%s.part%d", path, attempt);
    if (length < 0 || length >= (int)sizeof output->temporary) {
      SetSystemError(NameTooLongCode());
      break;
    }
    if (OpenFileAt(nullptr, output->temporary, ACCESS_CREATE_NEW, &output->file) == 0) return 0;
    int code = LastSystemError();
    if (!EntryExistsAt(nullptr, output->temporary)) {
      SetSystemError(code);
      break;
    }
  }
  output->temporary[0] = '\0';
  return -1;
}

int CommitOutput(OutputFile* output) {
  if (CloseFileHandle(&output->file) == 0 &&
      RenameEntryAt(nullptr, output->temporary, output->path, true) == 0) {
    output->temporary[0] = '\0';
    return 0;
  }
  int code = LastSystemError();
  AbandonOutput(output);
  SetSystemError(code);
  return -1;
}

void AbandonOutput(OutputFile* output) {
  // The caller's report may yet give the failure that led here.
  int code = LastSystemError();
  // A failed close only ends a file that goes anyway.
  CloseFileHandle(&output->file);
  if (output->temporary[0] && DeleteEntryAt(nullptr, output->temporary) != 0)
    ReportFailure("Cannot delete the unfinished %s.", output->temporary);
  output->temporary[0] = '\0';
  SetSystemError(code);
}
