// The archive's bytes, and what packing and unpacking do where the
// end-to-end tests cannot look: the current directory, damaged and hostile
// archives, unreadable members.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
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

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; i++) out += static_cast<char>(value >> (8 * i));
  return out;
}

// A CRC-32 one bit at a time, apart from the program's.
uint32_t BitwiseCrc(const std::string& bytes, size_t from, size_t size) {
  uint32_t crc = ~0u;
  for (size_t i = from; i < from + size; i++) {
    crc ^= static_cast<uint8_t>(bytes[i]);
    for (int k = 0; k < 8; k++) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

// The plain archive with the check record that -a puts after it.
std::string WithCheck(const std::string& plain) {
  std::string record = "ZQCK" + Le(1, 2) + Le(16, 2) + Le(plain.size(), 8);
  for (size_t at = 0; at < plain.size(); at += 65536)
    record += Le(BitwiseCrc(plain, at, std::min<size_t>(65536, plain.size() - at)), 4);
  record += Le(BitwiseCrc(record, 0, record.size()), 4);
  record += Le(record.size() + 8, 4) + "ZQCK";
  return plain + record;
}

// What a reader of the plain format sees: everything before the record.
std::string Plain(const std::string& archive) {
  size_t length = static_cast<uint8_t>(archive[archive.size() - 8]) | static_cast<uint8_t>(archive[archive.size() - 7]) << 8;
  return archive.substr(0, archive.size() - length);
}

TEST(CreateArchive, WritesTheFormatByteForByteAndTheAttributeBits) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree" / "SUB");
  WriteBytes(dir / "tree" / "SUB" / "A.TXT", "");
  fs::create_directories(dir / "empty");
  ASSERT_EQ(Pack(dir / "out.zqa", dir / "tree"), 0);
  ASSERT_EQ(Pack(dir / "empty.zqa", dir / "empty"), 0);
  // The plain format's bytes, then the check record of them.
  const char plain[] = "5a 51 41 52 00 00 00 00 10 00 53 55 42 00 20 00 41 2e 54 58 54 00 00 00 00 00 00 ff 01 80 01 80";
  EXPECT_EQ(Hex(ReadBytes(dir / "out.zqa")), std::string(plain) +
            " 5a 51 43 4b 01 00 10 00 20 00 00 00 00 00 00 00 71 74 f0 32 5b 7a 6a 30 20 00 00 00 5a 51 43 4b");
  EXPECT_EQ(ReadBytes(dir / "out.zqa"), WithCheck(Plain(ReadBytes(dir / "out.zqa"))));
  EXPECT_EQ(Hex(Plain(ReadBytes(dir / "empty.zqa"))), "5a 51 41 52 00 00 00 00 01 80");
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
  // Left out before their records: a dangling link, a pipe that would block
  // a reader, and a file nobody may read. A link to a file is that file.
  fs::create_symlink(dir / "nowhere", dir / "tree" / "dangling");
  fs::create_symlink(dir / "tree" / "z", dir / "tree" / "link");
  ASSERT_EQ(mkfifo((dir / "tree" / "pipe").c_str(), 0600), 0);
  expected["link"] = "z";
  named = "Cannot read file dangling; it is left out of the archive. A link to a file that is not there.\n" + named +
          "Cannot read file pipe; it is left out of the archive. Not a regular file but a pipe, a socket or a device.\n";
  if (geteuid() != 0) {  // root reads anything
    WriteBytes(dir / "tree" / "secret", "s");
    fs::permissions(dir / "tree" / "secret", fs::perms::none);
    named += "Cannot read file secret; it is left out of the archive. Permission denied.\n";
  }
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
  expected = WithCheck(expected + std::string("\x01\x80", 2));
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
    archives[reverse] = Plain(ReadBytes(dir / "t.zqa"));
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
  // A name of 259 bytes is valid, though the file system may refuse it.
  Target t;
  int result = t.Extract(kHeader + File(std::string(259, 'n')) + File("after") + Dir("d", File("f")) + kEnd);
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
  size_t plain = Plain(whole).size();
  for (size_t length = 0; length < whole.size(); ++length) {
    Target t;
    int result = t.Extract(whole.substr(0, length));
    // Cut before its check record, it is a whole archive of the plain format.
    ASSERT_EQ(result, length < 8 ? 2 : length == plain ? 0 : 3) << length;
    ASSERT_EQ(t.Outside(), 0u);
    ASSERT_EQ(fs::exists(t.target), result == 0) << length;
    if (result == 0) {
      ASSERT_EQ(Snapshot(t.target), original);
    }
  }
}

}  // namespace

// Damage, and what follows an archive's end.
namespace {

int Verify(const fs::path& archive) { return TestArchive(archive.string().c_str()); }

// A small tree of a few kinds of file, and its archive.
struct Sample {
  ScratchDir dir;
  std::string archive;
  std::map<std::string, std::string> tree;
  Sample() {
    Recorder recorder;
    fs::create_directories(dir / "tree" / "sub");
    WriteBytes(dir / "tree" / "text", TextBytes(3000));
    WriteBytes(dir / "tree" / "sub" / "random", RandomBytes(2500, 4));
    WriteBytes(dir / "tree" / "sub" / "spaces", std::string(900, ' '));
    WriteBytes(dir / "tree" / "empty", "");
    EXPECT_EQ(Pack(dir / "s.zqa", dir / "tree"), 0);
    archive = ReadBytes(dir / "s.zqa");
    tree = Snapshot(dir / "tree");
  }
};

// A reader of the plain format, as older programs have it: it stops at the
// top level's end marker and never looks further. The tree it reads.
struct PlainReader {
  const std::string& bytes;
  size_t at = 8;
  std::map<std::string, std::string> tree;
  static int Append(void* out, const uint8_t* data, size_t size) {
    static_cast<std::string*>(out)->append(reinterpret_cast<const char*>(data), size);
    return 0;
  }
  bool Level(const std::string& prefix) {
    for (;;) {
      if (at + 2 > bytes.size()) return false;
      unsigned word = static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
      at += 2;
      if (word == 0x8001) return true;
      std::string name = bytes.c_str() + at;
      at += name.size() + 1;
      std::string path = prefix + name;
      if (word & 0x10) {
        tree[path] = "<dir>";
        if (!Level(path + "/")) return false;
        continue;
      }
      ByteSource source = {reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                           reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size(),
                           [](ByteSource*) { return EOF; }, false};
      std::unique_ptr<Decoder, void (*)(void*)> decoder(NewDecoder(malloc), free);
      WindowCarry carry{};
      uint64_t size;
      if (DecompressMember(decoder.get(), &source, Append, &tree[path], &carry, &size) != DECODE_OK) return false;
      at = source.next - reinterpret_cast<const uint8_t*>(bytes.data());
    }
  }
};

TEST(CheckRecord, AReaderThatStopsAtTheEndMarkerReadsTheWholeTree) {
  Sample sample;
  PlainReader reader{sample.archive, 8, {}};
  ASSERT_TRUE(reader.Level(""));
  EXPECT_EQ(reader.tree, sample.tree);
  EXPECT_EQ(reader.at, Plain(sample.archive).size());  // the record begins where it stops
  EXPECT_EQ(sample.archive, WithCheck(Plain(sample.archive)));
}

// Every 97th bit flipped, and 8 bytes overwritten at random places: each is
// found before anything is written, by -x and by --test alike.
TEST(CheckRecord, EveryFlippedBitAndOverwriteIsFoundBeforeAnythingIsWritten) {
  Sample sample;
  Recorder recorder;
  settings.silent = 1;
  std::vector<std::string> damaged;
  for (size_t bit = 0; bit < sample.archive.size() * 8; bit += 97) {
    damaged.push_back(sample.archive);
    damaged.back()[bit / 8] ^= static_cast<char>(1 << (bit % 8));
  }
  std::string random = RandomBytes(8 * 300, 11);
  for (size_t i = 0; i < 300; i++) {
    std::string bytes = sample.archive;
    size_t at = static_cast<uint8_t>(random[8 * i]) * 131 % (bytes.size() - 7);
    bytes.replace(at, 8, random, 8 * i, 8);
    if (bytes != sample.archive) damaged.push_back(bytes);
  }
  int missed = 0;
  for (const std::string& bytes : damaged) {
    WriteBytes(sample.dir / "d.zqa", bytes);
    int extracted = Unpack(sample.dir / "d.zqa", sample.dir / "out");
    int tested = Verify(sample.dir / "d.zqa");
    missed += extracted != 3 || tested != 3;
    ASSERT_EQ(extracted, 3);
    ASSERT_EQ(tested, 3);
    ASSERT_FALSE(fs::exists(sample.dir / "out"));
  }
  printf("%zu damaged archives of %zu bytes: %zu found, %d missed\n", damaged.size(), sample.archive.size(),
         damaged.size() - missed, missed);
}

TEST(CheckRecord, WhatIsWrongIsSaidAndWhereItLies) {
  Sample sample;
  const std::string plain = Plain(sample.archive);
  const std::string record = sample.archive.substr(plain.size());
  std::string other_kind = record;
  other_kind[4] = 2;
  std::string body = other_kind.substr(0, other_kind.size() - 12);
  other_kind = body + Le(BitwiseCrc(body, 0, body.size()), 4) + other_kind.substr(other_kind.size() - 8);
  // Four blocks, the second and third damaged.
  fs::create_directories(sample.dir / "big");
  WriteBytes(sample.dir / "big" / "random", RandomBytes(200000, 5));
  {
    Recorder quiet;
    ASSERT_EQ(Pack(sample.dir / "big.zqa", sample.dir / "big"), 0);
  }
  std::string big = ReadBytes(sample.dir / "big.zqa");
  big[70000] ^= 1;
  big[140000] ^= 1;
  struct Case {
    std::string bytes;
    int result;
    const char* said;  // by -x, and by --test; "" for nothing
  } cases[] = {
      {sample.archive, 0, ""},
      {plain, 0, ""},  // an older program's: unverified, but sound
      {sample.archive + "junk", 3, "its check record is broken, or bytes follow it"},
      {plain + "junk", 3, "4 bytes after its end are not part of it"},
      {plain + record.substr(0, 20) + "Z" + record.substr(21), 3, "its check record is broken"},
      {plain + record.substr(0, record.size() - 1) + "X", 3, "its check record is broken, or bytes follow it"},
      {plain + record.substr(0, record.size() - 5), 3, "its check record is broken, or bytes follow it"},
      {plain + other_kind, 3, "its check record is of kind 2, which this program does not know"},
      {sample.archive.substr(0, 100) + sample.archive.substr(101), 3,
       "it is 3350 bytes long, where its check record says 3351 (cut or lengthened)"},
      {sample.archive.substr(0, 100) + "+" + sample.archive.substr(100), 3,
       "it is 3352 bytes long, where its check record says 3351 (cut or lengthened)"},
      {big, 3, "2 of its 64 KiB blocks fail their check, the first at byte offset 65536"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    Recorder recorder;
    WriteBytes(sample.dir / "c.zqa", c.bytes);
    EXPECT_EQ(Unpack(sample.dir / "c.zqa", sample.dir / "out"), c.result);
    EXPECT_EQ(fs::exists(sample.dir / "out"), c.result == 0);
    if (c.result == 0) {
      EXPECT_EQ(Snapshot(sample.dir / "out"), sample.tree);
      EXPECT_TRUE(recorder.messages().empty());
    } else {
      EXPECT_NE(recorder.last().find(c.said), std::string::npos) << recorder.last();
      EXPECT_NE(recorder.last().find("Nothing was extracted."), std::string::npos);
    }
    fs::remove_all(sample.dir / "out");
    EXPECT_EQ(Verify(sample.dir / "c.zqa"), c.result);
    if (c.result != 0) {
      EXPECT_NE(recorder.last().find(c.said), std::string::npos) << recorder.last();
    }
  }
  // Only an archive without a record is said to be unverified.
  Recorder recorder;
  WriteBytes(sample.dir / "c.zqa", plain);
  EXPECT_EQ(Verify(sample.dir / "c.zqa"), 0);
  WriteBytes(sample.dir / "c.zqa", sample.archive);
  EXPECT_EQ(Verify(sample.dir / "c.zqa"), 0);
  EXPECT_EQ(recorder.messages(), std::vector<std::string>{"Archive " + (sample.dir / "c.zqa").string() +
                                                          " has no check record: it decodes, but could not be verified."});
}

}  // namespace
