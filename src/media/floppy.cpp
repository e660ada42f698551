// Writing the distribution floppies: each file named in the INF file's
// "SourceDisksFiles" goes onto the disk its value names. The whole set is
// checked before the first disk is touched: a set that could not be written
// whole leaves every disk as it was.
#include "media/floppy.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "media/floppydisk.h"
#include "media/profile.h"
#include "os/dirscan.h"
#include "os/memory.h"
#include "ui/messages.h"

namespace {

const char INF_FILE[] = ".\\ZQK9150.INF";
const char SECTION[] = "SourceDisksFiles";
const int KEYS_SIZE = 4096;
const int VALUE_SIZE = 80;
const int MAX_DISKS = 8;

// Why the set is refused: a heading and one line a fault, as many as one
// message holds.
struct Refusal {
  char text[MESSAGE_BUFFER_SIZE];
  int length;
  int faults;
};

__attribute__((format(printf, 2, 3))) void AddFault(Refusal* refusal, const char* format, ...) {
  ++refusal->faults;
  if (refusal->length < 0) return;  // full
  char line[MESSAGE_BUFFER_SIZE];
  va_list args;
  va_start(args, format);
  int length = FormatText(line, format, args);
  va_end(args);
  const int room = MESSAGE_BUFFER_SIZE - 5;  // and "\n..." once it is full
  if (refusal->length + 1 + length > room) {
    strcpy(refusal->text + refusal->length, "\n...");
    refusal->length = -1;
    return;
  }
  refusal->text[refusal->length++] = '\n';
  memcpy(refusal->text + refusal->length, line, (size_t)length + 1);
  refusal->length += length;
}

bool IsLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A name that DOS, a floppy image and every Windows store as it is written:
// up to 8 characters, a dot and up to 3 more, no blank, no device name.
bool IsShortName(const char* name) {
  int base = 0, extension = -1;
  for (const char* p = name; *p; ++p) {
    if (*p == '.') {
      if (extension >= 0) return false;
      extension = 0;
    } else if (!IsLetterOrDigit(*p) && !strchr("!#$%&'()-@^_`{}~", *p)) {
      return false;
    } else if (extension >= 0 ? ++extension > 3 : ++base > 8) {
      return false;
    }
  }
  if (base == 0 || extension == 0) return false;
  char device[5] = {};
  for (int i = 0; i < base && i < 4; ++i) device[i] = LowerLetter(name[i]);
  static const char* const devices[] = {"con", "prn", "aux", "nul", "com", "lpt"};
  for (int i = 0; i < 6; ++i) {
    if (strncmp(device, devices[i], 3) != 0) continue;
    if (i < 4 ? base == 3 : base == 4 && device[3] >= '1' && device[3] <= '9') return false;
  }
  return true;
}

// Size and time of the file, which must be a file here: 0, or 1.
int MeasureFile(FloppyFile* file) {
  DirSearch search;
  int found = FindFirstEntry(file->name, MASK_FILES, &search);
  if (found == 0) {
    file->size = ((uint64_t)search.entry.size_high << 32) | search.entry.size_low;
    file->time = search.entry.time;
    file->date = search.entry.date;
    FreeMemory(search.entry.name);
  }
  CloseSearch(&search);
  return found == 0 ? 0 : 1;
}

// Reads and checks every file of the list; fills files and returns their
// number, and the number of disks in *disks.
int CheckSet(char* keys, FloppyFile* files, int* disks, Refusal* refusal) {
  int length = ReadProfileString(SECTION, nullptr, "", keys, KEYS_SIZE, INF_FILE);
  int count = 0;
  for (char* key = keys; *key; key += strlen(key) + 1) files[count++] = FloppyFile{key, 0, 0, 0, 0};
  // The reader cuts a list that does not fit, and the last name with it.
  if (length >= KEYS_SIZE - 2 && count > 0)
    AddFault(refusal, "%s: the list of files ends in it, at %d characters; the files from it "
             "on are not read", files[--count].name, KEYS_SIZE);
  bool used[MAX_DISKS + 1] = {};
  bool faulty[KEYS_SIZE / 2];
  for (int i = 0; i < count; ++i) {
    FloppyFile* file = &files[i];
    char value[VALUE_SIZE];
    ReadProfileString(SECTION, file->name, "0", value, sizeof value, INF_FILE);
    file->disk = DiskNumber(value);
    used[file->disk] = true;
    bool twice = false;
    for (int j = 0; j < i; ++j) twice = twice || SameTextIgnoringCase(files[j].name, file->name);
    int faults = refusal->faults;
    if (!IsShortName(file->name))
      AddFault(refusal, "%s: not a DOS name (up to 8 characters, a dot and up to 3 more)",
               file->name);
    else if (!file->disk)
      AddFault(refusal, "%s: its disk \"%s\" is not one of 1 to %d", file->name, value, MAX_DISKS);
    else if (twice)
      AddFault(refusal, "%s: listed twice", file->name);
    else if (MeasureFile(file) != 0)
      AddFault(refusal, "%s: there is no such file", file->name);
    faulty[i] = refusal->faults != faults;
  }
  *disks = 0;
  for (int disk = 1; disk <= MAX_DISKS; ++disk)
    if (used[disk]) *disks = disk;
  for (int gap = 1; gap < *disks; ++gap) {
    if (used[gap]) continue;
    for (int i = 0; i < count; ++i)
      if (files[i].disk > gap && !faulty[i])
        AddFault(refusal, "%s: listed for disk %d, but no file is listed for disk %d",
                 files[i].name, files[i].disk, gap);
    break;
  }
  for (int disk = 1; disk <= *disks; ++disk) {
    uint64_t bytes = 0;
    int entries = 0;
    for (int i = 0; i < count; ++i) {
      if (files[i].disk != disk || faulty[i]) continue;
      bytes += (files[i].size + FLOPPY_CLUSTER - 1) / FLOPPY_CLUSTER * FLOPPY_CLUSTER;
      ++entries;
    }
    if (bytes > FLOPPY_DATA_BYTES || entries > FLOPPY_ROOT_ENTRIES)
      AddFault(refusal, "disk %d: its %d files take %lu bytes; a 1.44 MB floppy holds %lu bytes "
               "in at most %d files", disk, entries,
               (unsigned long)(bytes < 0xFFFFFFFFu ? bytes : 0xFFFFFFFFu),
               (unsigned long)FLOPPY_DATA_BYTES, FLOPPY_ROOT_ENTRIES);
  }
  return count;
}

}  // namespace

int DiskNumber(const char* value) {
  int number = 0;
  const char* p = value;
  for (; *p >= '0' && *p <= '9' && number <= MAX_DISKS; ++p) number = number * 10 + (*p - '0');
  return p > value && number >= 1 && number <= MAX_DISKS ? number : 0;
}

int BuildFloppySet() {
  if (!ProfileFileExists(INF_FILE)) {
    MessagePrintf(FAILURE, "%s not found.", INF_FILE);
    return 1;
  }
  char keys[KEYS_SIZE];
  // A name takes two characters at least, its own and its end.
  FloppyFile* files = (FloppyFile*)AllocateMemory(KEYS_SIZE / 2 * sizeof(FloppyFile));
  if (!files) return 1 + OutOfMemory("the list of floppy files");
  Refusal refusal;
  refusal.length = snprintf(refusal.text, sizeof refusal.text, "Nothing is written. In %s:",
                            INF_FILE);
  refusal.faults = 0;
  int disks = 0;
  int count = CheckSet(keys, files, &disks, &refusal);
  int result = 1;
  if (count == 0 && refusal.faults == 0) {
    MessagePrintf(FAILURE, "%s lists no files in its section [%s].", INF_FILE, SECTION);
  } else if (refusal.faults > 0) {
    MessagePrintf(NEWS, "%s", refusal.text);
  } else if (CheckFloppyTarget(disks) == 0) {
    // Each disk's files in the order of the list.
    for (int i = 1; i < count; ++i)
      for (int j = i; j > 0 && files[j - 1].disk > files[j].disk; --j) {
        FloppyFile moved = files[j];
        files[j] = files[j - 1];
        files[j - 1] = moved;
      }
    result = 0;
    for (int disk = 1, first = 0; disk <= disks && result == 0; ++disk) {
      int last = first;
      while (last < count && files[last].disk == disk) ++last;
      result = WriteFloppyDisk(disk, files + first, last - first);
      first = last;
    }
    if (result == 0) MessagePrintf(NEWS, "All floppys done.");
  }
  FreeMemory(files);
  return result;
}
