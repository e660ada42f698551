// The installation sequence: bring the medium's files into the target
// directory, rejoin and unpack the package, run the vendor's setup, wait for
// its clean-up task to come and go, and remove the target directory.
#include "driver/install.h"

#include <cstdlib>
#include <cstring>

#include "archive/archive.h"
#include "fileutil/deltree.h"
#include "fileutil/dirscan.h"
#include "fileutil/filecopy.h"
#include "fileutil/paths.h"
#include "fileutil/fsops.h"
#include "fileutil/visit.h"
#include "system/admin.h"
#include "system/procenum.h"
#include "system/process.h"
#include "system/selfremove.h"
#include "ui/messages.h"

namespace {

const int CLEANUP_ATTEMPTS = 30;

// Files copied from floppies are read-only; they must be moved and deleted.
void ClearReadOnlyFiles() {
  DirSearch search;
  for (int found = FindFirstEntry("*.*", 6, &search); found == 0; found = FindNextEntry(&search)) {
    if (search.entry.attributes & ATTR_READONLY) {
      if (settings.verbose) MessagePrintf("Changing %s attributes to R/W", search.entry.name);
      MakeWritable(search.entry.name);
    }
    free(search.entry.name);
  }
  CloseSearch(&search);
}

// 0, or 1 after the append's own error report.
int RejoinPieces() {
  if (!FileExists("ZQK9150.001")) return 0;
  StatusWindow window = StatusPrintf(nullptr, "Copying files...");
  DeleteFileNamed("ZQK9150.ZQA");
  RenameFileNamed("ZQK9150.001", "ZQK9150.ZQA");
  if (FileAppend("ZQK9150.002", "ZQK9150.ZQA") != 0) return 1;
  DeleteFileNamed("ZQK9150.002");
  if (FileAppend("ZQK9150.003", "ZQK9150.ZQA") != 0) return 1;
  DeleteFileNamed("ZQK9150.003");
  StatusClose(&window);
  return 0;
}

// Polls the process list once a second, at most 30 times, until the clean-up
// task is seen; then until it is gone. 0, or 1 when it never came.
int WaitForCleanupTask() {
  int found = 0;
  for (int attempts = 0; attempts < CLEANUP_ATTEMPTS && !found; ++attempts) {
    PauseMs(1000);
    EnumerateProcesses(CleanupTaskCallback, &found);
  }
  if (!found) {
    MessagePrintf("Install Shield did not start.");
    return 1;
  }
  while (found) {
    PauseMs(1000);
    found = 0;
    EnumerateProcesses(CleanupTaskCallback, &found);
  }
  return 0;
}

// A target directory left from before (by an aborted run, or made by someone
// else, who may have put anything there) goes before the medium comes in.
// 0, or 1 after a message that names it.
int RemoveOldTarget(const char* target) {
  int removed = DeleteTree(target);
  if (removed == 0 || (removed == 1 && !EntryExists(target))) return 0;
  MessagePrintf("The target directory %s is there from before and cannot be removed; nothing "
                "was installed.",
                target);
  return 1;
}

// Makes the target directory current, only when it is a real directory, not
// a link or a junction: 0, or 1 after a message that names it.
int EnterTarget(const char* target) {
  HeldDirectory held;
  int hold = HoldDirectory(target, &held);
  if (hold == NOT_OWN_DIRECTORY) {
    MessagePrintf("The target directory %s is a link or not a directory; nothing was installed.",
                  target);
    return 1;
  }
  ChangeDrive(target[0]);
  // Everything below works on the current directory: it must be the target.
  char current[PATH_SIZE];
  bool entered = hold == 0 && EnterDirectory(target + 2) == 0 &&
                 ReadCurrentDir(current, PATH_SIZE) != 0 &&
                 SameTextIgnoringCase(current, target) && IsHeldCurrent(&held);
  if (hold == 0) ReleaseDirectory(&held);  // being current keeps it in place now
  if (entered) return 0;
  MessagePrintf("Cannot enter the target directory %s.", target);
  return 1;
}

}  // namespace

int CleanupTaskCallback(unsigned long, unsigned short, const char* module_name, void* context) {
  if (module_name && module_name[0] && strcmp(BaseName(module_name), "_ISDEL.EXE") == 0)
    *(int*)context = 1;
  return 1;
}

int RunInstallation() {
  char target[PATH_SIZE];
  int windows_length = ReadWindowsDir(target, PATH_SIZE);
  if (windows_length == 0) {
    MessagePrintf("The ZQ K9150 driver is installed on Windows. This build offers the tools "
                  "that build the installation medium: -? lists them.");
    return 1;
  }
  if (!IsAdministrator()) {
    MessagePrintf("You do NOT have administrator rights.\nPlease log on as an administrator to "
                  "set up this application.\n");
    return 1;
  }
  ShowCurrentDir();
  static const char TARGET_TAIL[] = "\\temp\\ZQK9150";
  if (windows_length + sizeof TARGET_TAIL > sizeof target) {
    MessagePrintf("The Windows directory %s is too long for the target directory.", target);
    return 1;
  }
  strcat(target, TARGET_TAIL);
  if (settings.verbose) MessagePrintf("Target directory is %s", target);

  bool self_removal = SameTextIgnoringCase(settings.module_directory, target);
  if (!self_removal) {
    if (RemoveOldTarget(target) != 0) return 1;
    if (settings.verbose) MessagePrintf("About to run ZQK9150.INF");
    if (!InstallInfSection(".\\ZQK9150.INF", "SetupInstall", settings.show_command)) return 1;
  }

  if (EnterTarget(target) != 0) return 1;
  ShowCurrentDir();
  ClearReadOnlyFiles();
  if (RejoinPieces() != 0) return 1;
  if (ExtractArchiveInto("ZQK9150.ZQA", "IS") != 0) return 1;

  char command[PATH_SIZE];
  static const char SETUP_TAIL[] = "\\is\\setup.exe";
  if (strlen(target) + strlen(SETUP_TAIL) + strlen(settings.setup_arguments) >= sizeof command) {
    MessagePrintf("The command line of %s%s with its arguments would be longer than %d "
                  "characters; setup is not started.",
                  target, SETUP_TAIL, PATH_SIZE - 1);
    return 1;
  }
  strcpy(command, target);
  strcat(command, SETUP_TAIL);
  char program[PATH_SIZE];
  strcpy(program, command);  // named apart, so that nothing is searched for
  strcat(command, settings.setup_arguments);
  if (!RunAndWait(program, command, settings.show_command)) {
    MessagePrintf("Failed to run \"%s %s\"", command, settings.setup_arguments);
    return 1;
  }
  if (WaitForCleanupTask() != 0) return 1;
  if (settings.verbose)
    MessagePrintf("Install Shield setup _ISDEL daughter task complete.\nAbout to cleanup all "
                  "setup files.");

  EnterDirectory("\\");
  // A run from the target directory keeps its own executable, which cannot be
  // deleted while it runs; self-removal takes it and the directory afterwards.
  if (DeleteTreeKeeping(target, self_removal ? BaseName(settings.module_file) : nullptr) != 0) return 1;
  if (self_removal) RemoveSelf();
  return 0;
}
