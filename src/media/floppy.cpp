// Writing the distribution floppies: each file named in the INF file's
// "SourceDisksFiles" goes to the root of drive A: on the disk its value names.
#include "media/floppy.h"

#include <cstring>

#include "fileutil/paths.h"
#include "fileutil/deltree.h"
#include "fileutil/filecopy.h"
#include "media/profile.h"
#include "ui/messages.h"

static const char INF_FILE[] = ".\\ZQK9150.INF";
static const char SECTION[] = "SourceDisksFiles";

int BuildFloppySet() {
  char keys[4096];
  ReadProfileString(SECTION, nullptr, "", keys, sizeof keys, INF_FILE);
  StatusWindow window = nullptr;
  for (char disk = '1'; disk <= '8'; ++disk) {
    bool in_use = false;
    for (const char* key = keys; *key; key += strlen(key) + 1) {
      char value[80];
      ReadProfileString(SECTION, key, "0", value, sizeof value, INF_FILE);
      if (value[0] != disk) continue;
      if (!in_use) {
        MessagePrintf("Please insert floppy disk %c in drive A:", disk);
        in_use = true;
        window = StatusPrintf(nullptr, "Please wait...");
        DeleteTree("A:\\");  // the root itself stays
      }
      StatusPrintf(window, "Copying %s", key);
      char target[PATH_SIZE] = "A:\\";
      int result = 2;
      if (strlen(target) + strlen(key) < sizeof target) {
        strcat(target, key);
        result = FileCopy(key, target);
      } else {
        MessagePrintf("The name %s is too long for drive A:.", key);
      }
      if (result != 0) {
        StatusClose(&window);
        MessagePrintf("Error copying file %s.", key);
        return result;
      }
    }
    StatusClose(&window);
    if (!in_use) break;  // the first disk that no file names ends the set
  }
  MessagePrintf("All floppys done.");
  return 0;
}
