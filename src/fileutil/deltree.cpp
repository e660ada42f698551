// Depth-first removal of a directory tree, hidden and system files included.
// A link in the tree, or at its top, goes itself: what it leads to is never
// entered or deleted.
#include "fileutil/deltree.h"

#include <cstring>

#include "fileutil/dirscan.h"
#include "fileutil/fsops.h"
#include "fileutil/longpath.h"
#include "fileutil/paths.h"
#include "ui/messages.h"

namespace {

struct Emptying {
  const Directory* dir;
  const char* kept;  // a file directly in the top that stays, or null
  bool kept_seen;
};

// An entry that stays, which has been reported (or the run's stop).
const int ENTRY_STAYS = 1;

// Reports an entry that stays, with the system's reason.
int CannotDelete(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  JoinPath(dir, name, path, PATH_SIZE);
  FailurePrintf("Cannot delete %s.", path);
  return ENTRY_STAYS;
}

int EmptyDirectory(const Directory* dir, const char* kept, bool* kept_seen);

// Deletes one entry of the directory being emptied: 0, or ENTRY_STAYS (the
// directory cannot be emptied now).
int DeleteEntry(const DirEntry& entry, void* context) {
  Emptying* emptying = static_cast<Emptying*>(context);
  const Directory* dir = emptying->dir;
  const char* name = entry.name;
  bool is_directory = (entry.attributes & ATTR_DIRECTORY) != 0;
  if (emptying->kept && !is_directory && SameTextIgnoringCase(name, emptying->kept)) {
    emptying->kept_seen = true;
    return 0;
  }
  if (StopRequested()) return ENTRY_STAYS;
  if (settings.verbose) {
    char path[PATH_SIZE];
    JoinPathBelow(dir, name, path, PATH_SIZE);
    MessagePrintf("Deleting %s", path);
  }
  if (!is_directory) return DeleteEntryAt(dir, name) == 0 ? 0 : CannotDelete(dir, name);
  Directory sub;
  int opened = OpenSubdirectory(dir, name, &sub);
  if (opened == NOT_OWN_DIRECTORY) return DeleteEntryAt(dir, name) == 0 ? 0 : CannotDelete(dir, name);
  if (opened != 0) return CannotDelete(dir, name);
  int emptied = EmptyDirectory(&sub, nullptr, nullptr);
  CloseDirectory(&sub);
  if (emptied != 0) return ENTRY_STAYS;
  return RemoveDirectoryAt(dir, name) == 0 ? 0 : CannotDelete(dir, name);
}

// Deletes everything in dir but the file named kept (when not null); sets
// *kept_seen when it met that file. 0, or -1 at the first failure.
int EmptyDirectory(const Directory* dir, const char* kept, bool* kept_seen) {
  Emptying emptying = {dir, kept, false};
  int result = ForEachEntry(dir, MASK_ALL, DeleteEntry, &emptying);
  if (kept_seen) *kept_seen = emptying.kept_seen;
  if (result == -1) {
    char path[PATH_SIZE];
    JoinPath(dir, nullptr, path, PATH_SIZE);
    FailurePrintf("Cannot list directory %s.", path);
  }
  return result == 0 ? 0 : -1;
}

}  // namespace

int DeleteTreeKeeping(const char* path, const char* kept) {
  char resolved[PATH_SIZE] = "";
  if (FullLongPath(path, resolved, PATH_SIZE) == 0 || !resolved[0]) return 1;
  // Held while it is emptied, so that it stays the directory that was checked.
  Directory top;
  int opened = OpenOwnDirectory(path, &top);
  if (opened == NOT_OWN_DIRECTORY) {
    // A link to a directory goes itself; a file is no tree.
    if (OpenDirectory(path, &top) != 0) return -1;
    CloseDirectory(&top);
    if (DeleteEntryAt(nullptr, path) == 0) return 0;
    CannotDelete(nullptr, path);
    return -1;
  }
  if (opened != 0) {
    CannotDelete(nullptr, path);
    return -1;
  }
  if (settings.verbose) MessagePrintf("Current dir: %s", top.name);
  bool kept_seen = false;
  int emptied = EmptyDirectory(&top, kept, &kept_seen);
  CloseDirectory(&top);
  if (emptied != 0) return -1;
  if (kept_seen) return 0;
  // A drive's root stays, even where the platform would remove the folder
  // behind it (a Wine drive letter is only a link to a folder).
  size_t length = strlen(resolved);
  if (resolved[length - 1] == '\\' || resolved[length - 1] == '/') return -1;
  if (RemoveDirectoryAt(nullptr, path) == 0) return 0;
  CannotDelete(nullptr, path);
  return -1;
}

int DeleteTree(const char* path) { return DeleteTreeKeeping(path, nullptr); }
