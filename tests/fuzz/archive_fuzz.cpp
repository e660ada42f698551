// Arbitrary bytes as an archive to extract. Whatever the bytes, extraction
// must not crash, must write nothing outside its target directory, must
// give one of its documented results and must leave the current directory
// as it found it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "ui/messages.h"

namespace fs = std::filesystem;

static fs::path scratch;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The codec's statistics go to standard output, the fuzzer's report to
  // standard error.
  if (!freopen("/dev/null", "w", stdout)) abort();
  settings.silent = 1;
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  char pattern[64];
  snprintf(pattern, sizeof pattern, "%s/archive-fuzz.XXXXXX", base);
  if (!mkdtemp(pattern)) abort();
  scratch = pattern;
  atexit([] { fs::remove_all(scratch); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fs::path archive = scratch / "input.zqa";
  fs::path area = scratch / "area";  // the target's parent: must stay as it is
  fs::path target = area / "target";
  fs::remove_all(area);
  fs::create_directories(area);
  if (FILE* file = fopen(archive.c_str(), "wb")) {
    if (size && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
  } else {
    abort();
  }

  char before[4096];
  if (!getcwd(before, sizeof before)) abort();
  int result = ExtractArchive(archive.c_str(), target.c_str());
  char after[4096];
  if (!getcwd(after, sizeof after) || strcmp(before, after) != 0) abort();
  if (result != 0 && result != -1 && result != 2 && result != 3 && result != 4) abort();

  for (auto& entry : fs::directory_iterator(area))
    if (entry.path().filename() != "target") abort();  // written outside the target
  for (auto& entry : fs::directory_iterator(scratch))
    if (entry.path() != archive && entry.path() != area) abort();
  return 0;
}
