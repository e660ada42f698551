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

int EnterOwnDirectory(const char* name, OwnLevel* level) {
  if (HoldCurrentDirectory(&level->parent) != 0) return -1;
  int held = HoldDirectory(name, &level->self);
  if (held == 0 && EnterHeldDirectory(&level->self, name) == 0) return 0;
  if (held == 0) {
    ReleaseDirectory(&level->self);
    held = -1;
  }
  ReleaseDirectory(&level->parent);
  return held;
}

void LeaveOwnDirectory(OwnLevel* level) {
  EnterHeldDirectory(&level->parent, "..");
  ReleaseDirectory(&level->self);
  ReleaseDirectory(&level->parent);
}

FILE* CreateFileAnew(const char* name) {
  FILE* file = CreateNewFile(name);
  if (file || !EntryExists(name) || DeleteFileNamed(name) != 0) return file;
  return CreateNewFile(name);
}
