// Images of 1.44 MB floppies, formatted with FAT12, holding a list of files.
#pragma once

#include <cstdio>

#include "media/floppydisk.h"

const long FLOPPY_IMAGE_SIZE = 1474560;

// Writes to image the floppy of disk number disk (its serial and label
// carry the number) with files, read from the current directory, in its
// root in this order. They must fit. 0; 1 when files[*failed] cannot be read
// whole or no longer has its size (errno says why, 0 when it changed); 2 when
// the image cannot be written (errno).
int WriteFatImage(FILE* image, int disk, const FloppyFile* files, int count, int* failed);
