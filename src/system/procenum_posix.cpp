// The process walk of a POSIX system with /proc: every process once, with
// its executable's full path, or an empty name when that cannot be read
// (other users' processes, kernel threads).
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "os/fsops.h"
#include "system/procenum.h"

static bool IsProcessId(const char* name, unsigned long* id) {
  if (*name < '0' || *name > '9') return false;
  char* end;
  *id = strtoul(name, &end, 10);
  return *end == '\0';
}

int EnumerateProcesses(ProcessCallback callback, void* context) {
  if (CallRefused(CALL_LIST)) return -1;
  DIR* proc = opendir("/proc");
  if (!proc) return -1;
  while (dirent* entry = readdir(proc)) {
    unsigned long id;
    if (!IsProcessId(entry->d_name, &id)) continue;
    char link[sizeof entry->d_name + 16];
    snprintf(link, sizeof link, "/proc/%s/exe", entry->d_name);
    char name[PATH_SIZE];
    ssize_t length = readlink(link, name, sizeof name);
    // A path that does not fit is not cut into another name.
    if (length < 0 || length >= (ssize_t)sizeof name) length = 0;
    name[length] = '\0';
    if (!callback(id, 0, name, context)) break;
  }
  closedir(proc);
  return 0;
}
