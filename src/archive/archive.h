// The ZQAR archive: one compressed directory tree.
//
// Results, which -a, -x, --list and --test end with (docs/usage.md's table):
// 0 done; 1 a path is invalid, a file cannot be opened or created, or a
// member could not be packed (named, the archive stays whole); 2 not an
// archive; 3 a damaged archive; 4 members that could not be written; 5 the
// archive could not be read; -1 a directory could not be made or entered,
// or is a link. Each has been told to the user where it happened.
#pragma once

#include <cstddef>
#include <cstdint>

const unsigned short END_OF_LEVEL = 0x8001;

// What decoding ahead did in an extraction.
struct AheadStats {
  int64_t members_taken;  // decoded ahead and used
  size_t most_held;       // the most bytes it held for the caller at once
};

// How archive creation and extraction may use the machine; 0 takes the
// default.
struct WorkLimits {
  int workers;           // threads that compress (one a processor), or that write the unpacked
                         // files (one a processor beside the decoding one, at least one); at
                         // most 64; below 0 none, all on the calling thread
  int tasks;             // members in flight: 64
  size_t output_budget;  // bytes held for members that wait their turn (coded output, or
                         // unpacked contents not yet written): 16 MiB
  // Extraction's decoding ahead: 0 where there is more than one processor
  // and workers is not below 0, 1 on, below 0 off.
  int decode_ahead = 0;
  AheadStats* ahead_stats = nullptr;  // filled in when not null
};

// Packs the tree at directory_path into a new archive, which appears under
// its name only once it is complete. The archive's bytes are the same with
// any limits.
int CreateArchive(const char* archive_path, const char* directory_path, const WorkLimits* limits = nullptr);
// The target path is the caller's choice and may be a link; below it no
// link is followed. The tree, the messages and their order are the same
// with any limits.
int ExtractArchive(const char* archive_path, const char* target_path, const WorkLimits* limits = nullptr);
// As ExtractArchive, into the subdirectory name of the current directory,
// which is made if needed and must not be a link.
int ExtractArchiveInto(const char* archive_path, const char* name);
// One line a member, the packed size, the size and the path below the root
// (a directory's ends in a separator), on standard output; and reading every
// member without writing it. Results as ExtractArchive.
int ListArchive(const char* archive_path);
int TestArchive(const char* archive_path);
