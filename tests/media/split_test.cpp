#include <gtest/gtest.h>

#include "media/split.h"
#include "support/recorder.h"
#include "support/scratch.h"

namespace {

const size_t kPiece = 1457664;

TEST(SplitFile, TheRemainderComesFirstAndEveryLaterPieceIsFull) {
  Recorder recorder;
  ScratchDir dir;
  fs::current_path(dir.path);
  struct Case {
    size_t size;
    std::vector<size_t> pieces;
  } cases[] = {
      {1, {1}},
      {kPiece - 1, {kPiece - 1}},
      {kPiece, {0, kPiece}},
      {kPiece + 1, {1, kPiece}},
      {3000000, {84672, kPiece, kPiece}},
  };
  for (auto& c : cases) {
    std::string bytes = RandomBytes(c.size, (unsigned)c.size);
    WriteBytes("ZQK9150.ZQA", bytes);
    ASSERT_EQ(SplitFile("ZQK9150.ZQA"), 0) << c.size;
    EXPECT_EQ(recorder.last(),
              "Done. ZQK9150.ZQA split in " + std::to_string(c.pieces.size()) + " pieces.");
    std::string joined;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      char name[32];
      snprintf(name, sizeof name, "ZQK9150.%03d", (int)i + 1);
      std::string piece = ReadBytes(name);
      EXPECT_EQ(piece.size(), c.pieces[i]) << c.size << " " << name;
      joined += piece;
      fs::remove(name);
    }
    EXPECT_EQ(joined, bytes);
    EXPECT_FALSE(fs::exists("ZQK9150.004"));
  }
}

TEST(SplitFile, AnEmptyFileMakesNoPiece) {
  Recorder recorder;
  ScratchDir dir;
  fs::current_path(dir.path);
  WriteBytes("EMPTY.BIN", "");
  EXPECT_EQ(SplitFile("EMPTY.BIN"), 0);
  EXPECT_EQ(recorder.last(), "Done. EMPTY.BIN split in 0 pieces.");
  EXPECT_FALSE(fs::exists("EMPTY.001"));
}

TEST(SplitFile, PieceNamesReplaceTheExtensionOfTheLastComponent) {
  Recorder recorder;
  ScratchDir dir;
  fs::current_path(dir.path);
  fs::create_directory("dir.x");
  WriteBytes("dir.x/FILE", "1");
  WriteBytes("dir.x/FILE.BIN", "2");
  WriteBytes("PACKAGE", "3");
  EXPECT_EQ(SplitFile("dir.x/FILE"), 0);
  EXPECT_EQ(ReadBytes("dir.x/FILE.001"), "1");
  EXPECT_EQ(SplitFile((dir.path / "dir.x" / "FILE.BIN").string().c_str()), 0);
  EXPECT_EQ(ReadBytes("dir.x/FILE.001"), "2");
  EXPECT_EQ(SplitFile("PACKAGE"), 0);
  EXPECT_EQ(ReadBytes("PACKAGE.001"), "3");
  EXPECT_FALSE(fs::exists("dir.001"));
}

TEST(SplitFile, Failures) {
  Recorder recorder;
  ScratchDir dir;
  fs::current_path(dir.path);
  EXPECT_EQ(SplitFile("missing.zqa"), 1);
  EXPECT_EQ(recorder.last(), "Cannot find file missing.zqa.");
  EXPECT_FALSE(fs::exists("missing.001"));

  // A piece that cannot be created: a directory in its place.
  WriteBytes("BIG.ZQA", std::string(kPiece + 5, 'b'));
  fs::create_directory("BIG.002");
  EXPECT_EQ(SplitFile("BIG.ZQA"), 3);
  EXPECT_EQ(recorder.last(), "Failed to create BIG.002.");
  EXPECT_EQ(ReadBytes("BIG.001"), "bbbbb");  // earlier pieces stay

  // 256 characters before the extension leave no room for ".001".
  std::string deep = std::string(120, 'a') + "/" + std::string(120, 'b');
  fs::create_directories(deep);
  std::string long_name = deep + "/" + std::string(14, 'n') + ".zqa";
  WriteBytes(long_name, "x");
  EXPECT_EQ(SplitFile(long_name.c_str()), 1);
  EXPECT_NE(recorder.last().find("too long"), std::string::npos);
}

TEST(SplitFile, VerboseModeTellsTheSize) {
  Recorder recorder;
  ScratchDir dir;
  fs::current_path(dir.path);
  WriteBytes("F.BIN", "12345");
  settings.verbose = 1;
  EXPECT_EQ(SplitFile("F.BIN"), 0);
  EXPECT_EQ(recorder.messages().at(0), "File F.BIN is 5 bytes long.");
}

}  // namespace
