// Damaged and hostile archives: nothing outside the target, bounded output,
// a clear result.
#include <gtest/gtest.h>

#include "archive/archive_support.h"
#include "support/recorder.h"

namespace {

const std::string kHeader("ZQAR\0\0\0\0", 8);
const std::string kEnd("\x01\x80", 2);
const std::string kEmptyStream("\0\0\0\0\0\xff", 6);
const std::string kStreamA("\x01\0\0\0\xf6\x80\0\xff", 8);  // the one byte "a"

std::string File(const std::string& name, const std::string& stream = kStreamA) {
  return std::string("\x20\x00", 2) + name + '\0' + stream;
}
std::string Dir(const std::string& name, const std::string& level) {
  return std::string("\x10\x00", 2) + name + '\0' + level + kEnd;
}

struct Target {
  ScratchDir dir;
  fs::path archive = dir / "arch" / "test.zqa";
  fs::path target = dir / "arch" / "target";
  Target() { fs::create_directories(dir / "arch"); }
  int Extract(const std::string& bytes) {
    WriteBytes(archive, bytes);
    return Unpack(archive, target);
  }
  // Everything next to the target that is not the archive or the target.
  size_t Outside() const {
    size_t count = 0;
    for (auto& item : fs::recursive_directory_iterator(dir.path)) {
      std::string relative = fs::relative(item.path(), dir.path).generic_string();
      if (relative != "arch" && relative != "arch/test.zqa" && relative.rfind("arch/target", 0) != 0)
        ++count;
    }
    return count;
  }
};

TEST(ExtractArchive, RefusesNamesThatLeaveTheirDirectory) {
  Recorder recorder;
  for (std::string name : {"..", ".", "", "a/b", "a\\b", "c:x", "../x", "/abs"}) {
    Target t;
    std::string level = File(name) + Dir(name, File("inner")) + File("ok");
    EXPECT_EQ(t.Extract(kHeader + level + kEnd), 4) << name;
    EXPECT_EQ(ReadBytes(t.target / "ok"), "a") << name;  // the walk went on
    EXPECT_EQ(t.Outside(), 0u) << name;
    EXPECT_NE(recorder.last().find("unsafe name"), std::string::npos);
  }
}

TEST(ExtractArchive, DamageStopsWithAMessageThatNamesTheArchive) {
  Recorder recorder;
  struct Case {
    std::string bytes;
    const char* why;
  } cases[] = {
      {kHeader + std::string("\x20\x00", 2) + std::string(260, 'n'), "longer than 259"},
      {kHeader + std::string("\x20\x00", 2) + "nam", "inside a member name"},
      {kHeader + File("f", kStreamA.substr(0, 2)), "inside a compressed file"},
      {kHeader + File("f", std::string("\x40\0\0\0\xf6", 5)), "inside a compressed file"},
      {kHeader + File("f", kStreamA.substr(0, 6) + "A"), "end mark"},
      {kHeader + "\x20", "inside a member record"},
  };
  for (auto& c : cases) {
    Target t;
    EXPECT_EQ(t.Extract(c.bytes), 3) << c.why;
    EXPECT_NE(recorder.last().find(t.archive.string() + " is damaged"), std::string::npos);
    EXPECT_NE(recorder.last().find(c.why), std::string::npos) << recorder.last();
    EXPECT_FALSE(fs::exists(t.target / "f"));  // no half member is left
  }
}

TEST(ExtractArchive, ANameOf259BytesIsValid) {
  Recorder recorder;
  Target t;
  std::string name(259, 'n');
  int result = t.Extract(kHeader + File(name) + File("after") + kEnd);
  // The file system may refuse so long a name; the archive is not damaged.
  EXPECT_TRUE(result == 0 || result == 4);
  EXPECT_EQ(ReadBytes(t.target / "after"), "a");
}

TEST(ExtractArchive, CleanEndsAtMemberBoundariesAreQuiet) {
  Recorder recorder;
  Target t;
  EXPECT_EQ(t.Extract(kHeader + std::string("\x10\x00", 2) + "d" + '\0' + File("f")), 0);
  EXPECT_EQ(ReadBytes(t.target / "d" / "f"), "a");
  EXPECT_TRUE(recorder.messages().empty());
}

TEST(ExtractArchive, HeaderChecks) {
  Recorder recorder;
  Target t;
  EXPECT_EQ(t.Extract(std::string("ZQAR\x01\0\0\0", 8) + kEnd), 2);
  EXPECT_EQ(recorder.last(), "File " + t.archive.string() + " isn't a supported archive type.");
  EXPECT_EQ(t.Extract("ZQAR"), 2);
  EXPECT_EQ(t.Extract(""), 2);
  EXPECT_EQ(Unpack(t.dir / "missing.zqa", t.target), 1);
  EXPECT_EQ(recorder.last(), "Failed to find archive " + (t.dir / "missing.zqa").string() + ".");
}

TEST(ExtractArchive, MembersThatCannotBeWrittenAreSkippedAndCounted) {
  Recorder recorder;
  Target t;
  fs::create_directories(t.target / "taken");         // a file member meets a directory
  WriteBytes(t.target / "blocked", "not a directory");  // a directory member meets a file
  std::string level = File("taken") + Dir("blocked", File("lost")) + File("ok");
  EXPECT_EQ(t.Extract(kHeader + level + kEnd), -1);
  EXPECT_EQ(ReadBytes(t.target / "ok"), "a");
  EXPECT_EQ(ReadBytes(t.target / "blocked"), "not a directory");
  EXPECT_FALSE(fs::exists(t.target / "lost"));
  EXPECT_EQ(recorder.messages().at(0), "Cannot create file taken.");

  fs::remove_all(t.target / "blocked");
  EXPECT_EQ(t.Extract(kHeader + File("taken") + File("ok2") + kEnd), 4);
  EXPECT_EQ(ReadBytes(t.target / "ok2"), "a");
}

TEST(ExtractArchive, DeepNestingIsDamageNotACrash) {
  Recorder recorder;
  std::string opening;
  for (int i = 0; i < 100000; ++i) opening += std::string("\x10\x00", 2) + "d" + '\0';
  // Levels that are only read: the first directory cannot be made.
  Target t;
  fs::create_directories(t.target);
  WriteBytes(t.target / "d", "a file in the way");
  EXPECT_EQ(t.Extract(kHeader + opening), 3);
  EXPECT_NE(recorder.last().find("nest too deeply"), std::string::npos);
#ifndef _WIN32
  // Levels that are made (beyond the Windows path limit, so not there).
  Target deep;
  EXPECT_EQ(deep.Extract(kHeader + opening), 3);
#endif
}

TEST(ExtractArchive, TruncationAtEveryOffsetIsBoundedAndClear) {
  Recorder recorder;
  settings.silent = 1;
  ScratchDir source;
  fs::create_directories(source / "tree" / "sub");
  WriteBytes(source / "tree" / "one.txt", TextBytes(3000));
  WriteBytes(source / "tree" / "sub" / "two.bin", RandomBytes(700, 9));
  WriteBytes(source / "tree" / "sub" / "empty", "");
  ASSERT_EQ(Pack(source / "sample.zqa", source / "tree"), 0);
  std::string whole = ReadBytes(source / "sample.zqa");
  auto original = Snapshot(source / "tree");
  for (size_t length = 0; length < whole.size(); ++length) {
    Target t;
    int result = t.Extract(whole.substr(0, length));
    ASSERT_TRUE(result == 0 || result == 2 || result == 3) << length << ": " << result;
    ASSERT_EQ(t.Outside(), 0u);
    if (!fs::exists(t.target)) continue;
    for (auto& [path, contents] : Snapshot(t.target)) {
      ASSERT_TRUE(original.count(path)) << path;
      // Whatever is left is whole: a cut member is never kept.
      ASSERT_EQ(contents, original[path]) << length << " " << path;
    }
  }
}

}  // namespace
