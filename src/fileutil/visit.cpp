#include "fileutil/visit.h"

#include "fileutil/fsops.h"
#include "ui/messages.h"

int EnterLevel(const char* path, DirectoryVisit* visit) {
  // Without the current directory there is no way back: do not leave it.
  if (ReadCurrentDir(visit->original, PATH_SIZE) == 0) return -1;
  if (path[0] && path[1] == ':') {
    int result = ChangeDrive(path[0]);
    if (result != 0) return result;
  }
  if (ReadCurrentDir(visit->kept, PATH_SIZE) == 0 || EnterDirectory(path) != 0) {
    EnterDirectory(visit->original);
    return -1;
  }
  return 0;
}

void LeaveLevel(const DirectoryVisit* visit) {
  EnterDirectory(visit->kept);
  EnterDirectory(visit->original);
}

void ShowCurrentDir() {
  if (!settings.verbose) return;
  char current[PATH_SIZE];
  if (ReadCurrentDir(current, PATH_SIZE) == 0) current[0] = '\0';
  MessagePrintf("Current dir: %s", current);
}
