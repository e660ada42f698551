#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "fileutil/dirscan.h"
#include "support/scratch.h"

namespace {

#ifdef _WIN32
const bool kWindows = true;
const char* const kHidden = "hidden.txt";
#else
const bool kWindows = false;
const char* const kHidden = ".hidden";
#endif

// name -> attributes of everything a listing delivers.
std::map<std::string, int> List(const std::string& pattern, uint16_t mask) {
  std::map<std::string, int> found;
  DirSearch search;
  for (int r = FindFirstEntry(pattern.c_str(), mask, &search); r == 0; r = FindNextEntry(&search)) {
    found[search.entry.name] = search.entry.attributes;
    free(search.entry.name);
  }
  EXPECT_EQ(CloseSearch(&search), 0);
  return found;
}

std::set<std::string> Names(const std::map<std::string, int>& listing) {
  std::set<std::string> names;
  for (auto& item : listing) names.insert(item.first);
  return names;
}

struct Tree {
  ScratchDir dir;
  Tree() {
    WriteBytes(dir / "plain.txt", "p");
    WriteBytes(dir / "readonly.txt", "r");
    SetReadOnly(dir / "readonly.txt", true);
    WriteBytes(dir / kHidden, "h");
    SetHidden(dir / kHidden);
    fs::create_directory(dir / "sub");
    if (kWindows) {
      WriteBytes(dir / "system.sys", "s");
      SetSystem(dir / "system.sys");
    }
    fs::current_path(dir.path);
  }
};

TEST(DirScan, MasksDeliverWhatTheyAdmit) {
  Tree tree;
  auto all = List("*.*", 0x16);
  EXPECT_EQ(all["."], ATTR_DIRECTORY);
  EXPECT_EQ(all[".."], ATTR_DIRECTORY);
  EXPECT_EQ(all["sub"] & ATTR_DIRECTORY, ATTR_DIRECTORY);
  EXPECT_EQ(all["plain.txt"], ATTR_ARCHIVE);
  EXPECT_EQ(all["readonly.txt"], ATTR_ARCHIVE | ATTR_READONLY);
  EXPECT_EQ(all[kHidden], ATTR_ARCHIVE | ATTR_HIDDEN);
  if (kWindows) {
    EXPECT_EQ(all["system.sys"], ATTR_ARCHIVE | ATTR_SYSTEM);
  }

  std::set<std::string> files = {"plain.txt", "readonly.txt", kHidden};
  if (kWindows) files.insert("system.sys");
  EXPECT_EQ(Names(List("*.*", 0x06)), files);
  EXPECT_EQ(Names(List("*.*", 0x00)), (std::set<std::string>{"plain.txt", "readonly.txt"}));
  EXPECT_EQ(Names(List("*.*", 0x0100)), (std::set<std::string>{"plain.txt"}));
  EXPECT_EQ(Names(List("*.*", 0x0101)), (std::set<std::string>{"readonly.txt"}));
}

TEST(DirScan, VolumeMaskAndEmptyMatchesEndTheListing) {
  Tree tree;
  DirSearch search;
  EXPECT_EQ(FindFirstEntry("*.*", 0x08, &search), 1);
  EXPECT_EQ(CloseSearch(&search), 0);
  int result = FindFirstEntry("nothing-like-this*", 0x16, &search);
  EXPECT_NE(result, 0);
  EXPECT_NE(result, FindExhausted);  // the platform's own "not found" code
  EXPECT_EQ(CloseSearch(&search), 0);
  EXPECT_NE(FindFirstEntry("missing-dir/*.*", 0x16, &search), 0);
  CloseSearch(&search);
}

TEST(DirScan, PatternsWithADirectoryAndWildcards) {
  Tree tree;
  WriteBytes(tree.dir / "sub" / "inner.bin", "12345");
  auto inner = List((tree.dir / "sub" / "*.*").string(), 0x06);
  ASSERT_EQ(Names(inner), (std::set<std::string>{"inner.bin"}));
  EXPECT_EQ(Names(List("p*.t?t", 0x16)), (std::set<std::string>{"plain.txt"}));
}

TEST(DirScan, SizeAndLocalDosTime) {
  ScratchDir dir;
  WriteBytes(dir / "five", "12345");
  // 2021-03-04 05:06:08 local time.
  struct tm local = {};
  local.tm_year = 121;
  local.tm_mon = 2;
  local.tm_mday = 4;
  local.tm_hour = 5;
  local.tm_min = 6;
  local.tm_sec = 8;
  local.tm_isdst = -1;
  time_t moment = mktime(&local);
  auto file_time = fs::last_write_time(dir / "five");
  auto shift = std::chrono::system_clock::from_time_t(moment) - std::chrono::system_clock::now();
  fs::last_write_time(dir / "five",
                      std::chrono::time_point_cast<fs::file_time_type::duration>(
                          fs::file_time_type::clock::now() + shift));
  (void)file_time;
  fs::current_path(dir.path);
  DirSearch search;
  ASSERT_EQ(FindFirstEntry("five", 0x06, &search), 0);
  EXPECT_EQ(search.entry.size_low, 5u);
  EXPECT_EQ(search.entry.size_high, 0u);
  EXPECT_EQ(search.entry.date, ((2021 - 1980) << 9) | (3 << 5) | 4);
  EXPECT_EQ(search.entry.time >> 5, (5 << 6) | 6);  // hours and minutes
  free(search.entry.name);
  CloseSearch(&search);
}

}  // namespace
