#include <gtest/gtest.h>

#include "fileutil/filecopy.h"
#include "support/recorder.h"
#include "support/scratch.h"

namespace {

TEST(FileCopy, CopiesAcrossBlockBoundaries) {
  Recorder recorder;
  ScratchDir dir;
  for (size_t size : {0u, 1u, 16384u, 16385u, 40000u}) {
    std::string bytes = RandomBytes(size, (unsigned)size);
    WriteBytes(dir / "source", bytes);
    WriteBytes(dir / "copy", "old contents that must go");
    EXPECT_EQ(FileCopy((dir / "source").string().c_str(), (dir / "copy").string().c_str()), 0);
    EXPECT_EQ(ReadBytes(dir / "copy"), bytes) << size;
  }
  EXPECT_TRUE(recorder.messages().empty());
}

TEST(FileAppend, AppendsAndDoublesAFileAppendedToItself) {
  Recorder recorder;
  ScratchDir dir;
  std::string bytes = RandomBytes(20000, 3);
  WriteBytes(dir / "self", bytes);
  EXPECT_EQ(FileAppend((dir / "self").string().c_str(), (dir / "self").string().c_str()), 0);
  EXPECT_EQ(ReadBytes(dir / "self"), bytes + bytes);

  WriteBytes(dir / "empty", "");
  EXPECT_EQ(FileAppend((dir / "empty").string().c_str(), (dir / "self").string().c_str()), 0);
  EXPECT_EQ(ReadBytes(dir / "self").size(), 40000u);
  // A missing destination is created.
  EXPECT_EQ(FileAppend((dir / "empty").string().c_str(), (dir / "new").string().c_str()), 0);
  EXPECT_TRUE(fs::exists(dir / "new"));
}

TEST(FileAppend, ReportsTheSideThatFailed) {
  Recorder recorder;
  ScratchDir dir;
  fs::current_path(dir.path);
  WriteBytes(dir / "there", "x");
  EXPECT_EQ(FileAppend("missing.001", "there"), 1);
  EXPECT_EQ(recorder.last(), "Error 2: \nAppend: Error reading from file missing.001.\n");
  EXPECT_EQ(FileCopy("there", "no-dir/there"), 2);
  EXPECT_NE(recorder.last().find(": \nCopy: Error writing to file no-dir/there.\n"),
            std::string::npos);
  EXPECT_EQ(FileCopy("missing", "there"), 1);
  EXPECT_EQ(ReadBytes(dir / "there"), "x");  // an unreadable source leaves it alone
}

}  // namespace
