#include <gtest/gtest.h>

#include "fileutil/deltree.h"
#include "support/recorder.h"
#include "support/scratch.h"

namespace {

void MakeTree(const fs::path& root) {
  fs::create_directories(root / "a" / "b" / "c");
  fs::create_directories(root / "empty");
  WriteBytes(root / "top.txt", "t");
  WriteBytes(root / "a" / "one", "1");
  WriteBytes(root / "a" / "b" / ".dot", "2");
  WriteBytes(root / "a" / "b" / "c" / "deep", "3");
  SetHidden(root / "a" / "one");
  SetSystem(root / "a" / "b" / "c" / "deep");
  SetHidden(root / "a" / "b");
}

TEST(DeleteTree, RemovesAWholeTreeAndRestoresTheCurrentDirectory) {
  Recorder recorder;
  ScratchDir dir;
  MakeTree(dir / "tree");
  fs::current_path(dir.path);
  std::string before = CurrentDir();
  EXPECT_EQ(DeleteTree("tree"), 0);
  EXPECT_FALSE(fs::exists(dir / "tree"));
  EXPECT_EQ(CurrentDir(), before);
  EXPECT_TRUE(recorder.messages().empty());
  EXPECT_EQ(DeleteTree("tree"), 1);  // gone: does not resolve
  EXPECT_EQ(CurrentDir(), before);
}

TEST(DeleteTree, StopsAtAReadOnlyFile) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  WriteBytes(dir / "tree" / "locked", "l");
  SetReadOnly(dir / "tree" / "locked", true);
  std::string before = CurrentDir();
  EXPECT_EQ(DeleteTree((dir / "tree").string().c_str()), -1);
  EXPECT_TRUE(fs::exists(dir / "tree" / "locked"));
  EXPECT_EQ(CurrentDir(), before);
}

TEST(DeleteTree, NeverFollowsADirectoryLink) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "outside");
  WriteBytes(dir / "outside" / "keep.txt", "keep");
  fs::create_directories(dir / "tree" / "sub");
  if (!MakeDirectoryLink(dir / "outside", dir / "tree" / "sub" / "link"))
    GTEST_SKIP() << "no directory links here";
  ASSERT_TRUE(MakeDirectoryLink(dir / "outside", dir / "toplink"));
  EXPECT_EQ(DeleteTree((dir / "tree").string().c_str()), 0);
  EXPECT_FALSE(fs::exists(dir / "tree"));
  EXPECT_EQ(DeleteTree((dir / "toplink").string().c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "toplink")));
  EXPECT_EQ(ReadBytes(dir / "outside" / "keep.txt"), "keep");
}

TEST(DeleteTree, VerboseModeNamesEveryDeletion) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  WriteBytes(dir / "tree" / "f", "");
  settings.verbose = 1;
  EXPECT_EQ(DeleteTree((dir / "tree").string().c_str()), 0);
  ASSERT_EQ(recorder.messages().size(), 2u);
  EXPECT_EQ(recorder.messages()[0].rfind("Current dir: ", 0), 0u);
  EXPECT_EQ(recorder.messages()[1], "Deleting f");
}

}  // namespace
