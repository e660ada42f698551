// The rules for names that Windows can hold, on either build.
#include "fileutil/names.h"

#include <cstdio>
#include <cstring>

#include "fileutil/paths.h"

const char* WindowsNameFault(const char* name, char* why, int why_size) {
  for (const char* p = name; *p; ++p) {
    unsigned char c = (unsigned char)*p;
    if (c < 0x20) {
      snprintf(why, why_size, "Windows cannot hold a name with a control character (0x%02X)", c);
      return why;
    }
    if (strchr("\\/:*?\"<>|", c)) {
      snprintf(why, why_size, "Windows cannot hold a name with \"%c\"", c);
      return why;
    }
  }
  size_t length = strlen(name);
  if (length && (name[length - 1] == '.' || name[length - 1] == ' ')) {
    snprintf(why, why_size, "Windows drops the %s at the end of a name",
             name[length - 1] == '.' ? "dot" : "blank");
    return why;
  }
  // Before an extension, or alone, a device's name names the device.
  size_t stem = strcspn(name, ".");
  static const char* const devices[] = {"con", "prn", "aux", "nul", "com", "lpt"};
  for (int i = 0; i < 6; ++i) {
    bool numbered = i >= 4;
    if (stem != (numbered ? 4u : 3u)) continue;
    bool same = true;
    for (int j = 0; j < 3; ++j) same = same && LowerLetter(name[j]) == devices[i][j];
    if (same && (!numbered || (name[3] >= '1' && name[3] <= '9'))) {
      snprintf(why, why_size, "Windows keeps the name %.*s for a device", (int)stem, name);
      return why;
    }
  }
  return nullptr;
}
