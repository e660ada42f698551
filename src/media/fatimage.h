// Images of 1.44 MB floppies, formatted with FAT12, holding a list of files.
#pragma once

#include "media/floppydisk.h"
#include "os/fsops.h"

const long FLOPPY_IMAGE_SIZE = 1474560;

// Writes to image the floppy of disk number disk (its serial and label
// carry the number) with files, read from the current directory, in its
// root in this order. They must fit. 0; 1 when files[*failed] cannot be read
// whole or no longer has its size; 2 when the image cannot be written; the
// system's error code tells why.
int WriteFatImage(FileHandle image, int disk, const FloppyFile* files, int count, int* failed);
