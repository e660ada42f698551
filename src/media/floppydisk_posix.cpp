// The disks of a floppy set as image files, DISK1.IMG, DISK2.IMG, ... in
// the current directory, for virtual machines, emulators and the floppy
// emulators of machines that read raw 1.44 MB images.
#include <cstdio>

#include "files/output.h"
#include "media/fatimage.h"
#include "media/floppydisk.h"
#include "os/fsops.h"
#include "ui/messages.h"

// Every disk is an image of its own: none overwrites another. Images of an
// earlier, longer set stay beside the new ones, and are named.
int CheckFloppyTarget(int disks) {
  char left[MESSAGE_BUFFER_SIZE] = "";
  int length = 0, found = 0;
  for (int disk = disks + 1; disk <= 8; ++disk) {
    char name[24];
    snprintf(name, sizeof name, "DISK%d.IMG", disk);
    if (!EntryExistsAt(nullptr, name)) continue;
    length += snprintf(left + length, sizeof left - length, "%s%s", found++ ? ", " : "", name);
  }
  if (found)
    MessagePrintf(WARNING, "%s, left from an earlier set, %s not part of this set of %d disk%s.", left,
                  found == 1 ? "is" : "are", disks, disks == 1 ? "" : "s");
  return 0;
}

int WriteFloppyDisk(int disk, const FloppyFile* files, int count) {
  char name[16];
  snprintf(name, sizeof name, "DISK%c.IMG", '0' + disk);
  OutputFile image;  // under a name of its own until it is whole
  if (CreateOutput(name, &image) != 0) {
    ReportFailure("Cannot create %s.", name);
    return 2;
  }
  int failed = 0;
  int result = WriteFatImage(image.file, disk, files, count, &failed);
  if (result == 0 && CommitOutput(&image) == 0) return 0;
  if (result == 1)
    ReportFailure("Cannot read %s.", files[failed].name);
  else
    ReportFailure("Cannot write %s.", name);
  AbandonOutput(&image);
  return result == 1 ? 1 : 2;
}
