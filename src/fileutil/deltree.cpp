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
      if (!is_directory)
        result = DeleteFileNamed(name);
      else if (IsDirectoryLink(name))
        result = RemoveDirectoryLink(name);  // never what it points to
      else
        result = DeleteTree(name);
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
  if (IsDirectoryLink(path)) return RemoveDirectoryLink(path);
  DirectoryVisit visit;
  int entered = EnterLevel(path, &visit);
  if (entered != 0) return entered;
  ShowCurrentDir();
  bool kept_seen = false;
  int emptied = EmptyCurrentDirectory(kept, &kept_seen);
  LeaveLevel(&visit);
  if (kept_seen) return emptied == 0 ? 0 : -1;
  // A drive's root stays, even where the platform would remove the folder
  // behind it (a Wine drive letter is only a link to a folder).
  size_t length = strlen(resolved);
  if (resolved[length - 1] == '\\' || resolved[length - 1] == '/') return -1;
  // Fails, with -1, whenever something inside could not be deleted.
  return RemoveDir(path);
}

int DeleteTree(const char* path) { return DeleteTreeKeeping(path, nullptr); }
