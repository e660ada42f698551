// What the Windows program adds to the walk: the usage box, relative names
// taken beside the program, and the installation when no action is named.
#include <windows.h>

#include "driver/entry.h"
#include "driver/install.h"
#include "fileutil/platform.h"
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

int RunWithoutAction() { return RunInstallation(); }
