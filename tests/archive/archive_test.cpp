#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "archive/archive_support.h"
#include "codec/encoder.h"
#include "support/recorder.h"

namespace {

TEST(CreateArchive, WritesTheFormatByteForByte) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree" / "SUB");
  WriteBytes(dir / "tree" / "SUB" / "A.TXT", "");
  ASSERT_EQ(Pack(dir / "out.zqa", dir / "tree"), 0);
  EXPECT_EQ(Hex(ReadBytes(dir / "out.zqa")),
            "5a 51 41 52 00 00 00 00 10 00 53 55 42 00 20 00 41 2e 54 58 54 00 "
            "00 00 00 00 00 ff 01 80 01 80");

  fs::create_directories(dir / "empty");
  ASSERT_EQ(Pack(dir / "empty.zqa", dir / "empty"), 0);
  EXPECT_EQ(Hex(ReadBytes(dir / "empty.zqa")), "5a 51 41 52 00 00 00 00 01 80");
  EXPECT_TRUE(recorder.messages().empty());
}

TEST(CreateArchive, RecordsHiddenSystemAndReadOnlyBits) {
  Recorder recorder;
  ScratchDir dir;
#ifdef _WIN32
  const char* hidden_dir = "hid";
  const char* file = "f.sys";
  const int file_word = 0x27;
#else
  const char* hidden_dir = ".hid";
  const char* file = ".f";
  const int file_word = 0x23;  // no system bit here
#endif
  fs::create_directories(dir / "tree" / hidden_dir);
  SetHidden(dir / "tree" / hidden_dir);
  WriteBytes(dir / "tree" / hidden_dir / file, "");
  SetHidden(dir / "tree" / hidden_dir / file);
  SetSystem(dir / "tree" / hidden_dir / file);
  SetReadOnly(dir / "tree" / hidden_dir / file, true);
  ASSERT_EQ(Pack(dir / "out.zqa", dir / "tree"), 0);
  std::string bytes = ReadBytes(dir / "out.zqa");
  EXPECT_EQ((unsigned char)bytes[8], 0x12);
  size_t record = 10 + strlen(hidden_dir) + 1;
  EXPECT_EQ((unsigned char)bytes[record], file_word);
  // Directory bit decides on reading; the other bits are not restored.
  EXPECT_EQ(Unpack(dir / "out.zqa", dir / "back"), 0);
  EXPECT_TRUE(fs::is_directory(dir / "back" / hidden_dir));
  EXPECT_TRUE(fs::exists(dir / "back" / hidden_dir / file));
}

TEST(Archive, RoundTripsVariedTreesAndRestoresTheCurrentDirectory) {
  Recorder recorder;
  ScratchDir dir;
  fs::path tree = dir / "tree";
  fs::create_directories(tree / "a" / "b" / "c");
  fs::create_directories(tree / "empty dir");
  WriteBytes(tree / "empty.txt", "");
  WriteBytes(tree / "block.bin", RandomBytes(16384, 1));
  WriteBytes(tree / "a" / "block+1.bin", RandomBytes(16385, 2));
  WriteBytes(tree / "a" / "b" / "text.txt", TextBytes(70000));
  WriteBytes(tree / "a" / "b" / "c" / "runs", std::string(5000, 'z') + std::string(300, ' '));
  WriteBytes(tree / "a" / ".hidden", "hidden");
  SetHidden(tree / "a" / ".hidden");
  std::string before = CurrentDir();
  ASSERT_EQ(Pack(dir / "tree.zqa", tree), 0);
  EXPECT_EQ(CurrentDir(), before);
  ASSERT_EQ(Unpack(dir / "tree.zqa", dir / "copy"), 0);
  EXPECT_EQ(CurrentDir(), before);
  EXPECT_EQ(Snapshot(dir / "copy"), Snapshot(tree));

  // Extracting again over the copy overwrites members and keeps other files.
  WriteBytes(dir / "copy" / "empty.txt", "changed");
  WriteBytes(dir / "copy" / "extra", "stays");
  ASSERT_EQ(Unpack(dir / "tree.zqa", dir / "copy"), 0);
  EXPECT_EQ(ReadBytes(dir / "copy" / "empty.txt"), "");
  EXPECT_EQ(ReadBytes(dir / "copy" / "extra"), "stays");
}

TEST(Archive, VerboseModeShowsEveryLevelAndCompletion) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree" / "sub");
  WriteBytes(dir / "tree" / "sub" / "f", "x");
  settings.verbose = 1;
  ASSERT_EQ(Pack(dir / "t.zqa", dir / "tree"), 0);
  auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0].rfind("Current dir: ", 0), 0u);
  EXPECT_EQ(messages[1], "Archiving directory sub");
  EXPECT_EQ(messages[2].rfind("Current dir: ", 0), 0u);
  EXPECT_EQ(messages[3], "Archive " + (dir / "t.zqa").string() + " complete.");
  recorder.Messages().clear();
  ASSERT_EQ(Unpack(dir / "t.zqa", dir / "out"), 0);
  EXPECT_EQ(recorder.last(), "Extraction is complete.");
}

TEST(CreateArchive, AnArchiveInsideItsOwnTreeIsPackedAsItStood) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  WriteBytes(dir / "tree" / "data", TextBytes(50000));
  fs::current_path(dir / "tree");
  ASSERT_EQ(CreateArchive("self.zqa", "."), 0);
  fs::current_path(dir.path);
  ASSERT_EQ(Unpack(dir / "tree" / "self.zqa", dir / "out"), 0);
  EXPECT_EQ(ReadBytes(dir / "out" / "data"), TextBytes(50000));
  EXPECT_TRUE(fs::exists(dir / "out" / "self.zqa"));
}

TEST(CreateArchive, RefusesWhatItCannotPack) {
  Recorder recorder;
  ScratchDir dir;
  EXPECT_EQ(Pack(dir / "a.zqa", dir / "missing"), 1);
  EXPECT_EQ(recorder.last(), "Path " + (dir / "missing").string() + " invalid.");
  fs::create_directories(dir / "tree");
  EXPECT_EQ(Pack(dir / "no-dir" / "a.zqa", dir / "tree"), 1);
  EXPECT_EQ(recorder.last(), "Failed to create archive " + (dir / "no-dir" / "a.zqa").string() + ".");
}

TEST(CreateArchive, DirectoryLinksAreNamedAndNotFollowed) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree" / "sub");
  WriteBytes(dir / "tree" / "sub" / "f", "f");
  if (!MakeDirectoryLink(dir / "tree", dir / "tree" / "sub" / "loop"))
    GTEST_SKIP() << "no directory links here";
  EXPECT_NE(Pack(dir / "a.zqa", dir / "tree"), 0);
  EXPECT_NE(recorder.last().find("loop"), std::string::npos);
  // The archive stays whole: everything else comes back.
  ASSERT_EQ(Unpack(dir / "a.zqa", dir / "out"), 0);
  EXPECT_EQ(ReadBytes(dir / "out" / "sub" / "f"), "f");
  EXPECT_FALSE(fs::exists(dir / "out" / "sub" / "loop"));
}

#ifndef _WIN32
TEST(CreateArchive, FilesThatCannotBeReadAreNamedAndArchivedEmpty) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  fs::create_symlink(dir / "nowhere", dir / "tree" / "dangling");
  ASSERT_EQ(mkfifo((dir / "tree" / "pipe").c_str(), 0600), 0);  // would block a reader
  WriteBytes(dir / "tree" / "z", "z");
  EXPECT_NE(Pack(dir / "a.zqa", dir / "tree"), 0);
  ASSERT_EQ(recorder.messages().size(), 2u);
  for (auto& message : recorder.messages())
    EXPECT_NE(message.find("it is archived empty"), std::string::npos) << message;
  ASSERT_EQ(Unpack(dir / "a.zqa", dir / "out"), 0);
  EXPECT_EQ(ReadBytes(dir / "out" / "dangling"), "");
  EXPECT_EQ(ReadBytes(dir / "out" / "pipe"), "");
  EXPECT_EQ(ReadBytes(dir / "out" / "z"), "z");
}
#endif

void AppendTo(void* text, const uint8_t* bytes, size_t size) {
  static_cast<std::string*>(text)->append(reinterpret_cast<const char*>(bytes), size);
}

TEST(CreateArchive, TheSameBytesWithAnyNumberOfWorkers) {
  // Sizes around the 119 bytes a carry holds, spaces (whose streams depend
  // on the carry), text and random bytes, and files big enough for a second
  // core to code. Expected: one compression after another from a fresh carry.
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  std::string expected("ZQAR\0\0\0\0", 8);
  std::unique_ptr<Encoder, void (*)(Encoder*)> encoder(NewEncoder(), FreeEncoder);
  WindowCarry carry{};
  int count = 0;
  for (int kind = 0; kind < 3; kind++) {
    for (size_t size : {0, 1, 100, 118, 119, 120, 100000, 30, 3}) {
      std::string data = kind == 0 ? std::string(size, ' ') : kind == 1 ? TextBytes(size) : RandomBytes(size, count);
      std::string name = std::to_string(10 + count++);
      WriteBytes(dir / "tree" / name, data);
      uint8_t header[4];
      MakeSizeHeader(static_cast<uint32_t>(size), header);
      expected += std::string("\x20\0", 2) + name + '\0' + std::string(header, header + 4);
      FILE* input = fopen((dir / "tree" / name).string().c_str(), "rb");
      uint32_t coded_size;
      EncodeStream(encoder.get(), input, static_cast<uint32_t>(size), &carry, AppendTo, &expected, &coded_size);
      fclose(input);
    }
  }
  expected += std::string("\x01\x80", 2);
  for (int workers : {1, 2, 8}) {
    ASSERT_EQ(CreateArchive((dir / "t.zqa").string().c_str(), (dir / "tree").string().c_str(), workers), 0);
    EXPECT_TRUE(ReadBytes(dir / "t.zqa") == expected) << workers << " workers";
  }
}

#ifndef _WIN32
TEST(CreateArchive, PacksEachDirectoryInTheByteOrderOfItsNames) {
  // Made in two opposite orders, the trees list differently on most file
  // systems; both archives hold the names in byte order, and are equal.
  Recorder recorder;
  ScratchDir dir;
  const std::vector<std::string> sorted = {"B", "_", "a", "a0", "b", "\xe9"};
  std::string archives[2];
  for (int reverse : {0, 1}) {
    fs::path tree = dir / ("tree" + std::to_string(reverse));
    fs::create_directories(tree);
    for (size_t i = 0; i < sorted.size(); i++) WriteBytes(tree / sorted[reverse ? sorted.size() - 1 - i : i], "");
    ASSERT_EQ(Pack(dir / "t.zqa", tree), 0);
    archives[reverse] = ReadBytes(dir / "t.zqa");
  }
  EXPECT_EQ(archives[0], archives[1]);
  std::vector<std::string> names;
  for (size_t at = 10; at < archives[0].size(); at += names.back().size() + 9) names.push_back(archives[0].c_str() + at);
  EXPECT_EQ(names, sorted);
}
#endif

TEST(CreateArchive, FilesOf4GiBOrMoreAreLeftOut) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  WriteBytes(dir / "tree" / "huge", "");
  std::error_code error;
  fs::resize_file(dir / "tree" / "huge", 4ull << 30, error);  // sparse
  if (error) GTEST_SKIP() << "no sparse 4 GiB file here";
  WriteBytes(dir / "tree" / "small", "s");
  EXPECT_NE(Pack(dir / "a.zqa", dir / "tree"), 0);
  EXPECT_NE(recorder.messages().at(0).find("huge"), std::string::npos);
  ASSERT_EQ(Unpack(dir / "a.zqa", dir / "out"), 0);
  EXPECT_FALSE(fs::exists(dir / "out" / "huge"));
  EXPECT_EQ(ReadBytes(dir / "out" / "small"), "s");
}

}  // namespace
