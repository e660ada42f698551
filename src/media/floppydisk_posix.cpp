// The disks of a floppy set as image files, DISK1.IMG, DISK2.IMG, ... in
// the current directory, for virtual machines, emulators and the floppy
// emulators of machines that read raw 1.44 MB images.
#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fileutil/filecopy.h"
#include "fileutil/fsops.h"
#include "media/fatimage.h"
#include "media/floppydisk.h"
#include "ui/messages.h"

// Every disk is an image of its own: none overwrites another.
int CheckFloppyTarget(int) { return 0; }

int WriteFloppyDisk(int disk, const FloppyFile* files, int count) {
  char name[16], temporary[40];
  snprintf(name, sizeof name, "DISK%c.IMG", '0' + disk);
  // Under its own name until it is whole.
  snprintf(temporary, sizeof temporary, ".%s.%ld", name, (long)getpid());
  FileHolder image{CreateNewFile(temporary)};
  if (!image.file) {
    MessagePrintf("Cannot create %s: %s.", temporary, strerror(errno));
    return 2;
  }
  int failed = 0;
  int result = WriteFatImage(image.file, disk, files, count, &failed);
  if (result == 0 && (fflush(image.file) != 0 || fsync(fileno(image.file)) != 0)) result = 2;
  int error = errno;
  if (fclose(image.release()) != 0 && result == 0) {
    result = 2;
    error = errno;
  }
  if (result == 0) {
    if (rename(temporary, name) == 0) return 0;
    error = errno;
    unlink(temporary);
    MessagePrintf("Cannot rename %s to %s: %s.", temporary, name, strerror(error));
    return 2;
  }
  unlink(temporary);
  if (result == 1)
    MessagePrintf("Cannot read %s: %s.", files[failed].name,
                  error ? strerror(error) : "it changed while it was read");
  else
    MessagePrintf("Cannot write %s: %s.", temporary, strerror(error));
  return result;
}
