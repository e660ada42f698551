// Depth-first removal of a directory tree, hidden and system files included.
#include "fileutil/deltree.h"

#include <cstdlib>
#include <cstring>

#include "fileutil/paths.h"
#include "fileutil/dirscan.h"
#include "fileutil/fsops.h"
#include "fileutil/longpath.h"
#include "fileutil/visit.h"
#include "ui/messages.h"

static int EmptyCurrentDirectory(const char* kept, bool* kept_seen);

// Removes the subdirectory name of the current directory with everything in
// it. A link standing under the name goes itself, never what it leads to.
static int RemoveSubtree(const char* name) {
  OwnLevel level;
  int entered = EnterOwnDirectory(name, &level);
  if (entered == NOT_OWN_DIRECTORY) return DeleteFileNamed(name);
  if (entered != 0) return -1;
  ShowCurrentDir();
  EmptyCurrentDirectory(nullptr, nullptr);
  LeaveOwnDirectory(&level);
  // Fails, with -1, whenever something inside could not be deleted.
  return RemoveDir(name);
}

// Deletes everything in the current directory but the file named kept (when
// not null); sets *kept_seen when it met that file. 0, or the first failure.
static int EmptyCurrentDirectory(const char* kept, bool* kept_seen) {
  DirSearch search;
  int result = 0;
  for (int found = FindFirstEntry("*.*", 0x16, &search); found == 0;
       found = FindNextEntry(&search)) {
    char* name = search.entry.name;
    bool is_directory = (search.entry.attributes & ATTR_DIRECTORY) != 0;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
      // not part of the tree
    } else if (kept && !is_directory && SameTextIgnoringCase(name, kept)) {
      *kept_seen = true;
    } else {
      if (settings.verbose) MessagePrintf("Deleting %s", name);
      result = is_directory ? RemoveSubtree(name) : DeleteFileNamed(name);
    }
    free(name);
    if (result != 0) break;  // the directory cannot be emptied now
  }
  CloseSearch(&search);
  return result;
}

int DeleteTreeKeeping(const char* path, const char* kept) {
  char resolved[PATH_SIZE] = "";
  if (FullLongPath(path, resolved, PATH_SIZE) == 0 || !resolved[0]) return 1;
  // Held while it is emptied, so that it stays the directory that was checked.
  HeldDirectory held;
  int hold = HoldDirectory(path, &held);
  if (hold == NOT_OWN_DIRECTORY) return IsDirectoryLink(path) ? DeleteFileNamed(path) : -1;
  if (hold != 0) return -1;
  DirectoryVisit visit;
  int entered = EnterLevel(path, &visit);
  if (entered != 0) {
    ReleaseDirectory(&held);
    return entered;
  }
  bool kept_seen = false;
  int emptied = -1;
  if (IsHeldCurrent(&held)) {
    ShowCurrentDir();
    emptied = EmptyCurrentDirectory(kept, &kept_seen);
  }
  LeaveLevel(&visit);
  ReleaseDirectory(&held);
  if (emptied != 0) return -1;
  if (kept_seen) return 0;
  // A drive's root stays, even where the platform would remove the folder
  // behind it (a Wine drive letter is only a link to a folder).
  size_t length = strlen(resolved);
  if (resolved[length - 1] == '\\' || resolved[length - 1] == '/') return -1;
  return RemoveDir(path);
}

int DeleteTree(const char* path) { return DeleteTreeKeeping(path, nullptr); }
