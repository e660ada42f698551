// Depth-first removal of a directory tree, hidden and system files included.
#include "fileutil/deltree.h"

#include <cstdlib>
#include <cstring>

#include "driver/entry.h"
#include "fileutil/dirscan.h"
#include "fileutil/fsops.h"
#include "fileutil/longpath.h"
#include "fileutil/visit.h"
#include "ui/messages.h"

static int EmptyCurrentDirectory() {
  DirSearch search;
  int result = 0;
  for (int found = FindFirstEntry("*.*", 0x16, &search); found == 0;
       found = FindNextEntry(&search)) {
    char* name = search.entry.name;
    if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) {
      if (verbose_mode) MessagePrintf("Deleting %s", name);
      if (!(search.entry.attributes & ATTR_DIRECTORY))
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

int DeleteTree(const char* path) {
  char resolved[PATH_SIZE] = "";
  if (FullLongPath(path, resolved, PATH_SIZE) == 0 || !resolved[0]) return 1;
  if (IsDirectoryLink(path)) return RemoveDirectoryLink(path);
  DirectoryVisit visit;
  int entered = EnterLevel(path, &visit);
  if (entered != 0) return entered;
  ShowCurrentDir();
  EmptyCurrentDirectory();
  LeaveLevel(&visit);
  // Fails, with -1, whenever something inside could not be deleted.
  return RemoveDir(path);
}
