// What the Windows program adds to the walk: the usage box, relative names
// taken beside the program, and the installation when no action is named.
#include <windows.h>

#include "app/entry.h"
#include "app/install.h"
#include "os/platform.h"
#include "ui/messages.h"

void ShowUsageText(const char* text) { MessageBoxA(nullptr, text, "ZQ K9150 Setup", MB_OK); }

// Windows knows only the switches of the walk, and walks as it always did.
const Switch HOST_SWITCHES[] = {{nullptr, 0, nullptr, 0, nullptr, nullptr}};
const WalkRules WALK_RULES = {false, ""};

int ConfirmRemovingItself() { return 1; }

void TellMissingValues(const Switch* entry, const char*, int) {
  if (!(entry->flags & SWITCH_QUIET_WHEN_SHORT)) ShowUsage();
}

// Results are not looked at: the program then runs where it was started.
void EnterProgramDirectory() {
  ChangeDrive(settings.module_file[0]);
  EnterDirectory(settings.module_directory);
}

// One installation at a time: a second one would remove the first one's
// package from under its setup. The lock is a mutex in the namespace of
// every session from Vista on (Global), in the only one before; the system
// releases it when the process ends, whatever the end. The medium's tools
// do not take it.
int RunWithoutAction() {
  static const char NAME[] = "Global\\ZQK9150Setup";
  HANDLE lock = CreateMutexA(nullptr, FALSE, NAME + ((GetVersion() & 0xFF) >= 6 ? 0 : 7));
  // Held now, or abandoned by a run that ended. A mutex out of reach is
  // another user's installation's.
  return RunInstallation(!lock || (WaitForSingleObject(lock, 0) | WAIT_ABANDONED) != WAIT_ABANDONED);
}
