// A 1.44 MB floppy image with FAT12, the format DOS, every Windows and the
// floppy emulators read. 1,474,560 bytes: 80 tracks, 2 heads, 18 sectors of
// 512 bytes a track, 2,880 sectors in all:
//
//   sector     0  boot sector: jump, parameter block (512 bytes a sector,
//                 1 a cluster, 1 reserved, 2 FATs of 9, 224 root entries,
//                 2,880 sectors, media F0, 18 a track, 2 heads), serial,
//                 label, file system "FAT12", a stub that boots nothing, 55 AA
//   sectors  1-9  FAT: 12 bits a cluster, two entries in three bytes;
//                 entries 0 and 1 are F0 FF FF, then each cluster names the
//                 next of its file, FFF the last, 000 a free one
//   sectors 10-18 the same FAT again
//   sectors 19-32 root directory: 224 entries of 32 bytes, the label first
//                 when the files leave room for it, then the files
//   sectors 33-   data: clusters 2 to 2,848, one sector each (1,457,664 bytes)
//
// The files lie one after another from cluster 2, in the order given, each
// in whole clusters; an empty file has none. Nothing in the image comes
// from the moment it is written, so the same files give the same bytes.
#include "media/fatimage.h"

#include <cstring>

#include "files/filecopy.h"
#include "os/fsops.h"
#include "os/memory.h"
#include "ui/messages.h"

namespace {

const int SECTOR = 512;
const int FAT_SECTORS = 9;
const int ROOT_SECTOR = 1 + 2 * FAT_SECTORS;
const int DATA_SECTOR = ROOT_SECTOR + FLOPPY_ROOT_ENTRIES * 32 / SECTOR;
const unsigned char zeros[SECTOR] = {};

void Put16(unsigned char* at, unsigned value) {
  at[0] = (unsigned char)value;
  at[1] = (unsigned char)(value >> 8);
}

void Put32(unsigned char* at, uint32_t value) {
  Put16(at, value & 0xFFFF);
  Put16(at + 2, value >> 16);
}

void SetFatEntry(unsigned char* fat, unsigned cluster, unsigned value) {
  unsigned char* at = fat + cluster * 3 / 2;
  if (cluster & 1) {
    at[0] = (unsigned char)((at[0] & 0x0F) | (value << 4));
    at[1] = (unsigned char)(value >> 4);
  } else {
    at[0] = (unsigned char)value;
    at[1] = (unsigned char)((at[1] & 0xF0) | (value >> 8));
  }
}

void WriteBootSector(unsigned char* boot, int disk, bool labelled) {
  static const unsigned char jump[] = {0xEB, 0x3C, 0x90};
  memcpy(boot, jump, sizeof jump);
  memcpy(boot + 3, "MSDOS5.0", 8);
  Put16(boot + 11, SECTOR);
  boot[13] = 1;     // sectors a cluster
  Put16(boot + 14, 1);  // reserved sectors
  boot[16] = 2;     // FATs
  Put16(boot + 17, FLOPPY_ROOT_ENTRIES);
  Put16(boot + 19, (unsigned)(FLOPPY_IMAGE_SIZE / SECTOR));
  boot[21] = 0xF0;  // media: 3.5" 1.44 MB
  Put16(boot + 22, FAT_SECTORS);
  Put16(boot + 24, 18);  // sectors a track
  Put16(boot + 26, 2);   // heads
  boot[38] = 0x29;       // serial, label and file system follow
  // Each disk its own serial: DOS tells a changed disk by it.
  Put32(boot + 39, 0x91500000u + (uint32_t)disk);
  // The label lives in the root as well, where it takes an entry: a disk
  // that needs all 224 for its files goes without.
  if (labelled) {
    memcpy(boot + 43, "K9150 DISK", 10);
    boot[53] = (unsigned char)('0' + disk);
  } else {
    memcpy(boot + 43, "NO NAME    ", 11);
  }
  memcpy(boot + 54, "FAT12   ", 8);
  // Started from this disk: int 18h hands over to the next boot device.
  static const unsigned char stub[] = {0xCD, 0x18, 0xEB, 0xFE};
  memcpy(boot + 62, stub, sizeof stub);
  boot[510] = 0x55;
  boot[511] = 0xAA;
}

// The 8.3 name in its eleven bytes, in capitals; a part written all in small
// letters gets the flag that lets the system show it so.
void WriteName(unsigned char* entry, const char* name) {
  memset(entry, ' ', 11);
  int part = 0, length = 0, lower[2] = {1, 1}, letters[2] = {0, 0};
  for (const char* p = name; *p; ++p) {
    if (*p == '.') {
      part = 1;
      length = 0;
      continue;
    }
    char c = *p;
    if (c >= 'a' && c <= 'z') {
      c = (char)(c - 'a' + 'A');
      letters[part] = 1;
    } else if (c >= 'A' && c <= 'Z') {
      lower[part] = 0;
    }
    entry[part * 8 + length++] = (unsigned char)c;
  }
  entry[12] = (unsigned char)((lower[0] && letters[0] ? 0x08 : 0) |
                              (lower[1] && letters[1] ? 0x10 : 0));
}

unsigned Clusters(uint64_t size) { return (unsigned)((size + SECTOR - 1) / SECTOR); }

// The file's bytes, then zeros to the end of its last cluster.
int CopyFile(FileHandle image, const FloppyFile* file, unsigned char* buffer) {
  FileHolder source;
  if (OpenFileAt(nullptr, file->name, ACCESS_READ, &source.file) != 0) return 1;
  int64_t size;
  if (SizeOfFile(source.file, &size) != 0) return 1;
  if ((uint64_t)size != file->size) {
    SetSystemError(ERROR_FILE_CHANGED);
    return 1;
  }
  int copied = CopyBlocks(source.file, image, (int64_t)file->size, buffer);
  if (copied != 0) return copied;
  size_t tail = (size_t)(Clusters(file->size) * (uint64_t)SECTOR - file->size);
  return WriteToFile(image, zeros, tail) == 0 ? 0 : 2;
}

}  // namespace

int WriteFatImage(FileHandle image, int disk, const FloppyFile* files, int count, int* failed) {
  const size_t system_size = (size_t)DATA_SECTOR * SECTOR;
  unsigned char* system = (unsigned char*)AllocateMemory(system_size);
  if (!system) return 2;
  memset(system, 0, system_size);
  bool labelled = count < FLOPPY_ROOT_ENTRIES;
  WriteBootSector(system, disk, labelled);
  unsigned char* root = system + ROOT_SECTOR * SECTOR;
  if (labelled) {
    memcpy(root, system + 43, 11);
    root[11] = 0x08;  // volume label
    root += 32;
  }
  unsigned char* fat = system + SECTOR;
  SetFatEntry(fat, 0, 0xFF0);
  SetFatEntry(fat, 1, 0xFFF);
  unsigned next = 2;
  for (int i = 0; i < count; ++i) {
    unsigned char* entry = root + i * 32;
    WriteName(entry, files[i].name);
    entry[11] = 0x20;  // archive
    Put16(entry + 22, files[i].time);
    Put16(entry + 24, files[i].date);
    unsigned clusters = Clusters(files[i].size);
    Put16(entry + 26, clusters ? next : 0);
    Put32(entry + 28, (uint32_t)files[i].size);
    for (unsigned n = 0; n < clusters; ++n, ++next)
      SetFatEntry(fat, next, n + 1 < clusters ? next + 1 : 0xFFF);
  }
  memcpy(fat + FAT_SECTORS * SECTOR, fat, FAT_SECTORS * SECTOR);
  int result = WriteToFile(image, system, system_size) == 0 ? 0 : 2;
  FreeMemory(system);
  unsigned char buffer[COPY_BUFFER_SIZE];
  for (int i = 0; i < count && result == 0; ++i) {
    result = CopyFile(image, &files[i], buffer);
    if (result == 1) *failed = i;
  }
  // The free clusters, zeros to the end of the disk.
  for (unsigned n = next; n < 2 + FLOPPY_DATA_BYTES / SECTOR && result == 0; ++n)
    if (WriteToFile(image, zeros, SECTOR) != 0) result = 2;
  return result;
}
