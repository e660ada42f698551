// The archive's bytes, and what packing and unpacking do where the
// end-to-end tests cannot look: the current directory, damaged and hostile
// archives, unreadable members.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <map>

#include "archive/archive.h"
#include "codec/encoder.h"
#include "support/recorder.h"


namespace {

// Relative path -> contents for files, "<dir>" for directories.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto& item : fs::recursive_directory_iterator(root))
    tree[fs::relative(item.path(), root).generic_string()] = item.is_directory() ? "<dir>" : ReadBytes(item.path());
  return tree;
}

int Pack(const fs::path& archive, const fs::path& tree) {
  return CreateArchive(archive.string().c_str(), tree.string().c_str());
}

int Unpack(const fs::path& archive, const fs::path& target) {
  return ExtractArchive(archive.string().c_str(), target.string().c_str());
}

TEST(CreateArchive, WritesTheFormatByteForByteAndTheAttributeBits) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree" / "SUB");
  WriteBytes(dir / "tree" / "SUB" / "A.TXT", "");
  fs::create_directories(dir / "empty");
  ASSERT_EQ(Pack(dir / "out.zqa", dir / "tree"), 0);
  ASSERT_EQ(Pack(dir / "empty.zqa", dir / "empty"), 0);
  EXPECT_EQ(Hex(ReadBytes(dir / "out.zqa")),
            "5a 51 41 52 00 00 00 00 10 00 53 55 42 00 20 00 41 2e 54 58 54 00 00 00 00 00 00 ff 01 80 01 80");
  EXPECT_EQ(Hex(ReadBytes(dir / "empty.zqa")), "5a 51 41 52 00 00 00 00 01 80");
  EXPECT_TRUE(recorder.messages().empty());

  // Hidden, system and read-only are recorded, and not restored.
#ifdef _WIN32
  const char *hidden_dir = "hid", *file = "f.sys";
  const int file_word = 0x27;
#else
  const char *hidden_dir = ".hid", *file = ".f";
  const int file_word = 0x23;  // no system bit here
#endif
  fs::path inner = dir / "bits" / hidden_dir;
  fs::create_directories(inner);
  WriteBytes(inner / file, "");
  SetHidden(inner);
  SetHidden(inner / file);
  SetSystem(inner / file);
  SetReadOnly(inner / file, true);
  ASSERT_EQ(Pack(dir / "bits.zqa", dir / "bits"), 0);
  std::string bytes = ReadBytes(dir / "bits.zqa");
  EXPECT_EQ((unsigned char)bytes[8], 0x12);
  EXPECT_EQ((unsigned char)bytes[10 + strlen(hidden_dir) + 1], file_word);
  EXPECT_EQ(Unpack(dir / "bits.zqa", dir / "back"), 0);
  EXPECT_TRUE(fs::is_regular_file(dir / "back" / hidden_dir / file));
}

TEST(Archive, RoundTripsKeepTheCurrentDirectoryAndOtherFiles) {
  Recorder recorder;
  ScratchDir dir;
  fs::path tree = dir / "tree";
  fs::create_directories(tree / "a" / "b");
  WriteBytes(tree / "empty.txt", "");
  WriteBytes(tree / "a" / "block+1.bin", RandomBytes(16385, 2));
  WriteBytes(tree / "a" / "b" / "text.txt", TextBytes(70000));
  // An archive inside its own tree is left out of it.
  fs::current_path(tree);
  std::string before = CurrentDir();
  ASSERT_EQ(CreateArchive("self.zqa", "."), 0);
  EXPECT_EQ(CurrentDir(), before);
  fs::rename(tree / "self.zqa", dir / "tree.zqa");
  ASSERT_EQ(Unpack(dir / "tree.zqa", dir / "copy"), 0);
  EXPECT_EQ(CurrentDir(), before);
  EXPECT_EQ(recorder.messages(), std::vector<std::string>{"self.zqa is the archive being written; it is left out of it."});
  EXPECT_EQ(Snapshot(dir / "copy"), Snapshot(tree));
  // Unpacking again over the copy overwrites members and keeps other files.
  WriteBytes(dir / "copy" / "empty.txt", "changed");
  WriteBytes(dir / "copy" / "extra", "stays");
  ASSERT_EQ(Unpack(dir / "tree.zqa", dir / "copy"), 0);
  EXPECT_EQ(ReadBytes(dir / "copy" / "empty.txt") + ReadBytes(dir / "copy" / "extra"), "stays");
}

TEST(CreateArchive, WhatCannotBePackedIsNamedAndTheArchiveStaysWhole) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  WriteBytes(dir / "tree" / "huge", "");
  std::error_code error;
  fs::resize_file(dir / "tree" / "huge", 4ull << 30, error);  // sparse
  if (error) GTEST_SKIP() << "no sparse 4 GiB file here";
  WriteBytes(dir / "tree" / "z", "z");
  std::map<std::string, std::string> expected = {{"z", "z"}};
  std::string named = "File huge is 4 GiB or larger; it is left out of the archive.\n";
#ifndef _WIN32
  // Archived empty: a dangling link, and a pipe that would block a reader.
  fs::create_symlink(dir / "nowhere", dir / "tree" / "dangling");
  ASSERT_EQ(mkfifo((dir / "tree" / "pipe").c_str(), 0600), 0);
  expected.insert({{"dangling", ""}, {"pipe", ""}});
  named = "Cannot open file dangling; it is archived empty. No such file or directory.\n" + named +
          "Cannot open file pipe; it is archived empty. Not a regular file.\n";
#endif
  EXPECT_EQ(Pack(dir / "a.zqa", dir / "tree"), 1);
  std::string shown;
  for (const std::string& message : recorder.messages()) shown += message + "\n";
  EXPECT_EQ(shown, named);
  ASSERT_EQ(Unpack(dir / "a.zqa", dir / "out"), 0);
  EXPECT_EQ(Snapshot(dir / "out"), expected);
}

int AppendTo(void* text, const uint8_t* bytes, size_t size) {
  static_cast<std::string*>(text)->append(reinterpret_cast<const char*>(bytes), size);
  return 0;
}

TEST(CreateArchive, TheSameBytesWithAnyNumberOfWorkers) {
  // Sizes around the 119 bytes a carry holds, spaces (whose streams depend
  // on the carry), text and random bytes, and files big enough for a second
  // core to code. Expected: one compression after another from a fresh carry.
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  std::string expected("ZQAR\0\0\0\0", 8);
  std::unique_ptr<Encoder, void (*)(void*)> encoder(NewEncoder(malloc), free);
  WindowCarry carry{};
  int count = 0;
  for (int kind = 0; kind < 3; kind++) {
    for (size_t size : {0, 1, 100, 118, 119, 120, 100000, 30, 3, 4096, 4097, 5}) {
      std::string data = kind == 0 ? std::string(size, ' ') : kind == 1 ? TextBytes(size) : RandomBytes(size, count);
      std::string name = std::to_string(10 + count++);
      WriteBytes(dir / "tree" / name, data);
      uint8_t header[4];
      MakeSizeHeader(static_cast<uint32_t>(size), header);
      expected += std::string("\x20\0", 2) + name + '\0' + std::string(header, header + 4);
      FILE* input = fopen((dir / "tree" / name).string().c_str(), "rb");
      StdioSource source;
      OpenStdioSource(&source, input);
      uint32_t coded_size;
      EncodeStream(encoder.get(), &source.source, static_cast<uint32_t>(size), &carry, AppendTo, &expected,
                   &coded_size);
      fclose(input);
    }
  }
  expected += std::string("\x01\x80", 2);
  // On the calling thread, on 1 to 8 workers, with one member in flight, and
  // with a budget that holds back every member but the oldest.
  const WorkLimits limits[] = {{-1, 0, 0}, {1, 0, 0}, {2, 0, 0}, {8, 0, 0}, {2, 1, 0}, {2, 0, 1}, {8, 3, 1}};
  for (const WorkLimits& limit : limits) {
    ASSERT_EQ(CreateArchive((dir / "t.zqa").string().c_str(), (dir / "tree").string().c_str(), &limit), 0);
    EXPECT_TRUE(ReadBytes(dir / "t.zqa") == expected) << limit.workers << " " << limit.tasks << " " << limit.output_budget;
  }
}

#ifndef _WIN32
TEST(CreateArchive, PacksEachDirectoryInTheByteOrderOfItsNames) {
  // Made in two opposite orders, the trees list differently on most file
  // systems; both archives hold the names in byte order, and are equal.
  Recorder recorder;
  ScratchDir dir;
  // The names are stored in code page 1252: é is one byte there.
  const std::vector<std::string> sorted = {"B", "_", "a", "a0", "b", "\xc3\xa9"};
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
  EXPECT_EQ(names, std::vector<std::string>({"B", "_", "a", "a0", "b", "\xe9"}));
}
#endif

// Damaged and hostile archives: nothing outside the target, bounded output,
// a clear result.
const std::string kHeader("ZQAR\0\0\0\0", 8);
const std::string kEnd("\x01\x80", 2);
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
  // Everything beside the target that is not the archive.
  size_t Outside() const {
    size_t count = 0;
    for (auto& item : fs::recursive_directory_iterator(dir.path)) {
      std::string relative = fs::relative(item.path(), dir.path).generic_string();
      count += relative != "arch" && relative != "arch/test.zqa" && relative.rfind("arch/target", 0) != 0;
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
    EXPECT_NE(recorder.last().find("which is unsafe here"), std::string::npos);
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
  // A name of 259 bytes is valid, though the file system may refuse it; an
  // archive that ends cleanly at a member's boundary is whole.
  Target t;
  int result = t.Extract(kHeader + File(std::string(259, 'n')) + File("after") + std::string("\x10\x00", 2) + "d" +
                         '\0' + File("f"));
  EXPECT_TRUE(result == 0 || result == 4) << result;
  EXPECT_EQ(ReadBytes(t.target / "after") + ReadBytes(t.target / "d" / "f"), "aa");
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
  EXPECT_EQ(recorder.messages().at(0).find("Cannot create file taken. "), 0u);
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

// What one extraction gave: its result, its messages and the tree.
struct Unpacked {
  int result;
  std::vector<std::string> messages;
  std::map<std::string, std::string> tree;
  bool operator==(const Unpacked& other) const {
    return result == other.result && messages == other.messages && tree == other.tree;
  }
};

// Into a target that holds a directory where a file member goes and a file
// where a directory member goes, so that failures are told among the
// verbose lines.
Unpacked UnpackWith(const fs::path& archive, const fs::path& target, const WorkLimits& limits) {
  fs::remove_all(target);
  fs::create_directories(target / "s010");
  WriteBytes(target / "sub1", "a file where a directory goes");
  Recorder recorder;
  settings.verbose = 1;
  Unpacked unpacked;
  unpacked.result = ExtractArchive(archive.string().c_str(), target.string().c_str(), &limits);
  unpacked.messages = recorder.messages();
  unpacked.tree = Snapshot(target);
  return unpacked;
}

// The same tree, messages and result on the calling thread and on 1 to 8
// workers, also where only one member or one block may be in flight: for a
// sound archive, and for the archive cut off or damaged at sampled offsets.
TEST(ExtractArchive, TheSameOnAnyNumberOfWorkers) {
  ScratchDir dir;
  fs::path tree = dir / "tree";
  for (const char* sub : {"sub0", "sub1", "sub2"}) fs::create_directories(tree / sub);
  WriteBytes(tree / "big", RandomBytes(140000, 3));  // streams, a short member after it
  WriteBytes(tree / "sub0" / "large", TextBytes(70000));
  for (int i = 0; i < 20; i++) {
    char name[16];
    snprintf(name, sizeof name, "s%03d", i);
    // 118 to 120 bytes: around the window's carried bytes.
    WriteBytes(tree / name, TextBytes(i < 6 ? 118 + i % 3 : 1 + i * 37));
    WriteBytes(tree / "sub2" / name, RandomBytes(i * 5, i));
  }
  {
    Recorder recorder;
    ASSERT_EQ(Pack(dir / "t.zqa", tree), 0);
  }
  std::string whole = ReadBytes(dir / "t.zqa");
  const WorkLimits limits[] = {{1, 0, 0}, {2, 0, 0}, {8, 0, 0}, {2, 1, 0}, {8, 3, 1}};
  Unpacked alone = UnpackWith(dir / "t.zqa", dir / "out", {-1, 0, 0});
  EXPECT_EQ(alone.result, -1);
  EXPECT_EQ(alone.tree["big"], ReadBytes(tree / "big"));
  EXPECT_EQ(alone.tree["sub2/s019"], ReadBytes(tree / "sub2" / "s019"));
  for (const WorkLimits& limit : limits)
    EXPECT_TRUE(UnpackWith(dir / "t.zqa", dir / "out", limit) == alone) << limit.workers << " " << limit.tasks;
  for (size_t at = 9; at < whole.size(); at += whole.size() / 7) {
    SCOPED_TRACE(at);
    std::string damaged = whole;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
    for (const std::string& bytes : {whole.substr(0, at), damaged}) {
      WriteBytes(dir / "d.zqa", bytes);
      Unpacked one = UnpackWith(dir / "d.zqa", dir / "out", {-1, 0, 0});
      for (const WorkLimits& limit : {limits[4]})
        ASSERT_TRUE(UnpackWith(dir / "d.zqa", dir / "out", limit) == one) << limit.workers << " " << limit.tasks;
    }
  }
}

// An archive of several read blocks: the members that a thread decodes
// ahead, and those that run across a block's end, come out whole.
TEST(ExtractArchive, MembersAcrossReadBlocksComeOutWhole) {
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  for (int i = 0; i < 700; i++) {
    char name[16];
    snprintf(name, sizeof name, "m%03d", i);
    WriteBytes(dir / "tree" / name, RandomBytes(1000 + i * 37 % 7000, i));
  }
  {
    Recorder recorder;
    settings.silent = 1;
    ASSERT_EQ(Pack(dir / "t.zqa", dir / "tree"), 0);
    ASSERT_GT(fs::file_size(dir / "t.zqa"), 2u << 20);
    ASSERT_EQ(Unpack(dir / "t.zqa", dir / "out"), 0);
  }
  EXPECT_TRUE(Snapshot(dir / "out") == Snapshot(dir / "tree"));
}

TEST(ExtractArchive, TruncationAtEveryOffsetIsBoundedAndClear) {
  Recorder recorder;
  settings.silent = 1;
  ScratchDir source;
  fs::create_directories(source / "tree" / "sub");
  WriteBytes(source / "tree" / "one.txt", TextBytes(300));
  WriteBytes(source / "tree" / "sub" / "two.bin", RandomBytes(100, 9));
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
