// Depth-first removal of a directory tree, hidden and system files included.
// A link in the tree, or at its top, goes itself: what it leads to is never
// entered or deleted.
#include "files/deltree.h"

#include <cstring>

#include "base/text.h"
#include "os/dirscan.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/platform.h"
#include "ui/messages.h"

namespace {

struct Emptying {
  const Directory* dir;
  const char* kept;  // a file directly in the top that stays, or null
  bool kept_seen;
  int patience_ms;
};

const int LONGEST_PAUSE_MS = 2000;

// Removes the entry name of dir (a directory, or another entry); while the
// system says that it is in use, tries again after pauses that grow from
// 100 ms, up to patience_ms in all. 0, or -1 as the last try left it.
int Remove(const Directory* dir, const char* name, bool is_directory, int patience_ms) {
  int waited = 0;
  for (int pause = 100;; pause *= 2) {
    int result = is_directory ? RemoveDirectoryAt(dir, name) : DeleteEntryAt(dir, name);
    int code = LastSystemError();
    if (result == 0 || waited >= patience_ms || !IsInUseCode(code) || StopRequested()) {
      if (waited > 0) {
        char path[PATH_SIZE];
        JoinPath(dir, name, path, PATH_SIZE);
        LogPrintf("%s was in use; waited %d ms for it.", path, waited);
      }
      return result;
    }
    if (pause > LONGEST_PAUSE_MS) pause = LONGEST_PAUSE_MS;
    if (pause > patience_ms - waited) pause = patience_ms - waited;
    PauseMs(pause);
    waited += pause;
  }
}

// An entry that stays, which has been reported (or the run's stop).
const int ENTRY_STAYS = 1;

// Reports an entry that stays, with the system's reason.
int CannotDelete(const Directory* dir, const char* name) {
  char path[PATH_SIZE];
  JoinPath(dir, name, path, PATH_SIZE);
  ReportFailure("Cannot delete %s.", path);
  return ENTRY_STAYS;
}

int EmptyDirectory(const Directory* dir, const char* kept, bool* kept_seen, int patience_ms);

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
  char path[PATH_SIZE];
  JoinPathBelow(dir, name, path, PATH_SIZE);
  MessagePrintf(VERBOSE, "Deleting %s", path);
  // A read-only file is refused for good, with the code a file in use may get.
  int patience = entry.attributes & ATTR_READONLY ? 0 : emptying->patience_ms;
  if (!is_directory) return Remove(dir, name, false, patience) == 0 ? 0 : CannotDelete(dir, name);
  Directory sub;
  int opened = OpenSubdirectory(dir, name, &sub);
  if (opened != 0 && LastSystemError() == ERROR_NOT_OWN_DIRECTORY)
    return DeleteEntryAt(dir, name) == 0 ? 0 : CannotDelete(dir, name);
  if (opened != 0) return CannotDelete(dir, name);
  int emptied = EmptyDirectory(&sub, nullptr, nullptr, emptying->patience_ms);
  CloseDirectory(&sub);
  if (emptied != 0) return ENTRY_STAYS;
  return Remove(dir, name, true, patience) == 0 ? 0 : CannotDelete(dir, name);
}

// Deletes everything in dir but the file named kept (when not null); sets
// *kept_seen when it met that file. 0, or -1 at the first failure.
int EmptyDirectory(const Directory* dir, const char* kept, bool* kept_seen, int patience_ms) {
  Emptying emptying = {dir, kept, false, patience_ms};
  int result = ForEachEntry(dir, MASK_ALL, DeleteEntry, &emptying);
  if (kept_seen) *kept_seen = emptying.kept_seen;
  if (result == -1) {
    char path[PATH_SIZE];
    JoinPath(dir, nullptr, path, PATH_SIZE);
    ReportFailure("Cannot list directory %s.", path);
  }
  return result == 0 ? 0 : -1;
}

}  // namespace

int DeleteTreeKeeping(const char* path, const char* kept, int patience_ms) {
  char resolved[PATH_SIZE] = "";
  if (FullLongPath(path, resolved, PATH_SIZE) != 0) return 1;
  // Held while it is emptied, so that it stays the directory that was checked.
  Directory top;
  int opened = OpenOwnDirectory(path, &top);
  if (opened != 0 && LastSystemError() == ERROR_NOT_OWN_DIRECTORY) {
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
  MessagePrintf(VERBOSE, "Current dir: %s", top.name);
  bool kept_seen = false;
  int emptied = EmptyDirectory(&top, kept, &kept_seen, patience_ms);
  CloseDirectory(&top);
  if (emptied != 0) return -1;
  if (kept_seen) return 0;
  // A drive's root is emptied and stays, even where the platform would
  // remove the folder behind it (a Wine drive letter is only a link to a
  // folder).
  size_t length = strlen(resolved);
  if (resolved[length - 1] == '\\' || resolved[length - 1] == '/') return 0;
  if (Remove(nullptr, path, true, patience_ms) == 0) return 0;
  CannotDelete(nullptr, path);
  return -1;
}

int DeleteTree(const char* path) { return DeleteTreeKeeping(path, nullptr, 0); }
