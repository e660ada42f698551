// The disks of a floppy set, written one after another in drive A:.
#include <windows.h>

#include <cstring>

#include "files/deltree.h"
#include "files/filecopy.h"
#include "media/floppydisk.h"
#include "ui/messages.h"

int CheckFloppyTarget(int disks) {
  // Nobody is asked to change the disk, so each pass would clear the one
  // the pass before it wrote.
  if (settings.silent && disks > 1) {
    MessagePrintf(FAILURE, "In silent mode only a set of one disk can be written; this one needs %d.",
                  disks);
    return 1;
  }
  return 0;
}

// What the drive has free after clearing: it may hold less than a
// formatted floppy (bad sectors, another format). 0, or 2 after a message.
static int CheckRoom(int disk, const FloppyFile* files, int count) {
  DWORD sectors, bytes, free_clusters, clusters;
  if (!GetDiskFreeSpaceA("A:\\", &sectors, &bytes, &free_clusters, &clusters) || sectors * bytes == 0) {
    ReportFailure("Cannot read the free space of drive %s.", "A:");
    return 2;
  }
  DWORD cluster = sectors * bytes;
  uint64_t needed = 0;
  // Each file was found to fit on a floppy.
  for (int i = 0; i < count; ++i)
    needed += ((DWORD)files[i].size + cluster - 1) / cluster * cluster;
  uint64_t room = (uint64_t)cluster * free_clusters;
  if (needed <= room) return 0;
  MessagePrintf(FAILURE, "Disk %d does not fit on the floppy in drive A: its files take %lu bytes, it "
                "has %lu bytes free.", disk, (unsigned long)needed, (unsigned long)room);
  return 2;
}

int WriteFloppyDisk(int disk, const FloppyFile* files, int count) {
  if (!MessagePrintf(NEWS, "Please insert floppy disk %c in drive A:", '0' + disk)) return 1;  // Cancel
  StatusWindow window = StatusPrintf(nullptr, "Please wait...");
  // What the floppy held goes first; a removal that failed has said what
  // stayed, and nothing is written over it.
  int cleared = DeleteTree("A:\\");
  if (cleared == 1) ReportFailure("Cannot read the floppy in drive %s.", "A:");
  int result = cleared != 0 ? 2 : CheckRoom(disk, files, count);
  for (int i = 0; i < count && result == 0; ++i) {
    StatusPrintf(window, "Copying %s", files[i].name);
    char target[PATH_SIZE] = "A:\\";
    strcat(target, files[i].name);  // an 8.3 name
    result = FileCopy(files[i].name, target);  // which has said what failed
  }
  StatusClose(&window);
  return result;
}
