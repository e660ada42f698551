// Packing a directory tree into an archive, depth first, each directory's
// record before its contents.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/archive.h"
#include "codec/codec.h"
#include "fileutil/paths.h"
#include "fileutil/dirscan.h"
#include "fileutil/fsops.h"
#include "fileutil/longpath.h"
#include "fileutil/visit.h"

namespace {

// The first failure of the walk below the top directory; the archive stays
// well-formed all the same.
int member_failure = 0;

void NoteFailure(int result) {
  if (member_failure == 0) member_failure = result;
}

void WriteWord(FILE* archive, uint16_t word) {
  fputc(word & 0xff, archive);
  fputc(word >> 8, archive);
}

void WriteRecord(FILE* archive, uint16_t attributes, const char* name) {
  WriteWord(archive, attributes);
  fwrite(name, 1, strlen(name) + 1, archive);
}

// An empty file's coded stream: size 0 and the end mark.
void WriteEmptyStream(FILE* archive) {
  static const unsigned char empty[6] = {0, 0, 0, 0, 0x00, 0xFF};
  fwrite(empty, 1, sizeof empty, archive);
}

void ArchiveFile(StatusWindow window, FILE* archive, const DirEntry& entry) {
  WriteRecord(archive, entry.attributes, entry.name);
  StatusPrintf(window, "Compressing %s...", entry.name);
  FILE* input = OpenRegularFile(entry.name);
  if (!input) {
    MessagePrintf("Cannot open file %s; it is archived empty.", entry.name);
    WriteEmptyStream(archive);
    NoteFailure(1);
    return;
  }
  setvbuf(input, nullptr, _IOFBF, STREAM_BUFFER);
  int compressed = CompressStream(input, archive);
  fclose(input);
  if (compressed == COMPRESS_BAD_INPUT) {
    MessagePrintf("Cannot read file %s; it is archived empty.", entry.name);
    WriteEmptyStream(archive);  // nothing of it was written
    NoteFailure(1);
  } else if (compressed == COMPRESS_SHORT_INPUT) {
    MessagePrintf("File %s shrank while it was archived; its member is incomplete.", entry.name);
    NoteFailure(1);
  }
}

void ArchiveEntry(StatusWindow window, FILE* archive, const DirEntry& entry) {
  const char* name = entry.name;
  if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return;
  if (entry.attributes & ATTR_DIRECTORY) {
    // Following a link could leave the tree or recurse without end.
    if (IsDirectoryLink(name)) {
      MessagePrintf("Directory link %s is not followed; it is left out of the archive.", name);
      NoteFailure(1);
      return;
    }
    WriteRecord(archive, entry.attributes, name);
    if (settings.verbose) MessagePrintf("Archiving directory %s", name);
    if (ArchiveDirectory(window, archive, name) != 0) {
      MessagePrintf("Cannot enter directory %s; it is archived empty.", name);
      WriteWord(archive, END_OF_LEVEL);
      NoteFailure(-1);
    }
    return;
  }
  if (entry.size_high != 0) {
    // The coded stream's size header holds 32 bits.
    MessagePrintf("File %s is 4 GiB or larger; it is left out of the archive.", name);
    NoteFailure(1);
    return;
  }
  ArchiveFile(window, archive, entry);
}

}  // namespace

int ArchiveDirectory(StatusWindow window, FILE* archive, const char* path) {
  DirectoryVisit visit;
  int entered = EnterLevel(path, &visit);
  if (entered != 0) return entered;
  ShowCurrentDir();
  DirSearch search;
  for (int found = FindFirstEntry("*.*", 0x16, &search); found == 0;
       found = FindNextEntry(&search)) {
    ArchiveEntry(window, archive, search.entry);
    free(search.entry.name);
  }
  CloseSearch(&search);
  WriteWord(archive, END_OF_LEVEL);
  LeaveLevel(&visit);
  return 0;
}

int CreateArchive(const char* archive_path, const char* directory_path) {
  char full[PATH_SIZE] = "";
  if (FullLongPath(directory_path, full, PATH_SIZE) == 0 || !full[0]) {
    MessagePrintf("Path %s invalid.", directory_path);
    return 1;
  }
  FILE* archive = fopen(archive_path, "wb");
  if (!archive) {
    MessagePrintf("Failed to create archive %s.", archive_path);
    return 1;
  }
  setvbuf(archive, nullptr, _IOFBF, STREAM_BUFFER);
  fwrite("ZQAR\0\0\0\0", 1, 8, archive);
  StatusWindow window = StatusPrintf(nullptr, "Please wait...");
  member_failure = 0;
  int result = ArchiveDirectory(window, archive, full);
  if (result == 0) result = member_failure;
  StatusClose(&window);
  int write_failed = ferror(archive);
  if (fclose(archive) != 0) write_failed = 1;
  if (write_failed) {
    MessagePrintf("Failed to write archive %s.", archive_path);
    if (result == 0) result = 1;
  }
  if (settings.verbose && result == 0) MessagePrintf("Archive %s complete.", archive_path);
  return result;
}
