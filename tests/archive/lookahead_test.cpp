// Decoding ahead: where it guesses that a member begins, and that what it
// decodes is used, within its bound, and changes nothing of the outcome.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "archive/archive.h"
#include "archive/lookahead.h"
#include "os/fsops.h"
#include "support/recorder.h"

namespace {

std::string Le32(uint32_t value) {
  std::string out;
  for (int i = 0; i < 4; i++) out += static_cast<char>(value >> (8 * i));
  return out;
}

const std::string kMark("\0\xff", 2);
std::string FileRecord(const std::string& name) { return std::string("\x20\x00", 2) + name + '\0'; }

TEST(DecodeAhead, GuessesAMemberOnlyWhereARecordFitsAfterAnEndMark) {
  const std::string size = Le32(100), tail = "zzzz";
  struct Case {
    const char* what;
    std::string before;  // the stream's size header follows it, when found
    std::string after;
    size_t from;
    bool found;
  };
  const Case cases[] = {
      {"a file record after an end mark", "xy" + kMark + FileRecord("name"), size + tail, 0, true},
      {"end marks of levels and a directory first",
       "xy" + kMark + std::string("\x01\x80\x01\x80\x10\x00sub\0", 10) + FileRecord("f"), size + tail, 0, true},
      {"a mark without its pad", "xy\x01\xff" + FileRecord("f"), size + tail, 0, false},
      {"a mark at the block's first byte", "\xff" + FileRecord("f"), size + tail, 0, false},
      {"a false mark, then a sound one", "x\x01\xff" + FileRecord("f") + size + "x" + kMark + FileRecord("g"),
       size + tail, 0, true},
      {"attribute bits the format has not", "xy" + kMark + std::string("\x40\x00", 2) + "f" + '\0', size + tail, 0,
       false},
      {"a blank in the name", "xy" + kMark + FileRecord("a b"), size + tail, 0, true},
      {"a control code in the name", "xy" + kMark + FileRecord("a\tb"), size + tail, 0, false},
      {"an empty name", "xy" + kMark + FileRecord(""), size + tail, 0, false},
      {"a name of 259 bytes", "xy" + kMark + FileRecord(std::string(259, 'n')), size + tail, 0, true},
      {"a name of 260 bytes", "xy" + kMark + FileRecord(std::string(260, 'n')), size + tail, 0, false},
      {"a name the block cuts", "xy" + kMark + std::string("\x20\x00nam", 5), "", 0, false},
      {"a size header the block cuts", "xy" + kMark + FileRecord("f"), size.substr(0, 3), 0, false},
      {"a size header the block just holds", "xy" + kMark + FileRecord("f"), size, 0, true},
      {"a member of the largest size tried", "xy" + kMark + FileRecord("f"), Le32(1 << 20) + tail, 0, true},
      {"a member larger than that", "xy" + kMark + FileRecord("f"), Le32((1 << 20) + 1) + tail, 0, false},
      {"the mark at from", "xy" + kMark + FileRecord("f"), size + tail, 3, true},
      {"the mark before from", "xy" + kMark + FileRecord("f"), size + tail, 4, false},
  };
  for (const Case& c : cases) {
    std::string block = c.before + c.after;
    size_t got = GuessStream(reinterpret_cast<const uint8_t*>(block.data()), block.size(), c.from);
    EXPECT_EQ(got, c.found ? c.before.size() : NO_STREAM) << c.what;
  }
}

// Relative path -> contents for files, "<dir>" for directories.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto& item : fs::recursive_directory_iterator(root))
    tree[fs::relative(item.path(), root).generic_string()] = item.is_directory() ? "<dir>" : ReadBytes(item.path());
  return tree;
}

std::thread::id caller;
std::atomic<int> writes{0}, refused{0};

// The caller held up at its first writes, so that what is decoded ahead
// piles up to the bound.
int SlowWrites(int call) {
  if (call == CALL_WRITE && std::this_thread::get_id() == caller && writes++ < 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return 0;
}

// Every read that the thread decoding ahead makes fails; the caller is held
// up at each write, so that the thread comes to read the next block before
// the caller does, however slow the build.
int FailAheadReads(int call) {
  if (std::this_thread::get_id() == caller) {
    if (call == CALL_WRITE) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return 0;
  }
  if (call != CALL_READ) return 0;
  refused++;
  return 1;
}

// Text members, several times their coded size, each after a short random
// one, so that no stream copies the bytes carried from the member before
// it: 2 read blocks, and more decoded in each than the bound holds.
TEST(DecodeAhead, MembersTakenAreUsedWithinTheBoundAndChangeNothing) {
  ScratchDir dir;
  std::string text = TextBytes(6 << 20);
  for (int i = 0; i < 120; i++) {
    fs::path sub = dir / "tree" / ("d" + std::to_string(i / 40));
    fs::create_directories(sub);
    char name[16];
    snprintf(name, sizeof name, "m%03d", i);
    WriteBytes(sub / (std::string(name) + "a"), RandomBytes(1500, i));
    WriteBytes(sub / (std::string(name) + "b"), text.substr(i * 40009, 60000 + i * 331));
  }
  {
    Recorder recorder;
    ASSERT_EQ(CreateArchive((dir / "t.zqa").string().c_str(), (dir / "tree").string().c_str()), 0);
  }
  ASSERT_GT(fs::file_size(dir / "t.zqa"), 1u << 20);
  struct Run {
    const char* what;
    WorkLimits limits;
    FaultHook hook;
  };
  const Run runs[] = {
      {"off", {-1, 0, 0, -1}, nullptr},
      {"on, the caller held up", {-1, 0, 0, 1}, SlowWrites},
      {"on, with workers", {2, 0, 0, 1}, nullptr},
      {"on, its reads failing", {-1, 0, 0, 1}, FailAheadReads},
  };
  std::vector<std::string> messages_off;
  caller = std::this_thread::get_id();
  for (const Run& run : runs) {
    SCOPED_TRACE(run.what);
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out" / "d1" / "m045b");  // a failure among the messages
    AheadStats stats = {};
    WorkLimits limits = run.limits;
    limits.ahead_stats = &stats;
    writes = refused = 0;
    Recorder recorder;
    settings.verbose = 1;
    fault_hook = run.hook;
    int result = ExtractArchive((dir / "t.zqa").string().c_str(), (dir / "out").string().c_str(), &limits);
    fault_hook = nullptr;
    EXPECT_EQ(result, 4);
    fs::remove_all(dir / "out" / "d1" / "m045b");
    fs::copy_file(dir / "tree" / "d1" / "m045b", dir / "out" / "d1" / "m045b");
    EXPECT_TRUE(Snapshot(dir / "out") == Snapshot(dir / "tree"));
    if (run.limits.decode_ahead < 0) {
      messages_off = recorder.messages();
      EXPECT_EQ(stats.members_taken, 0);
      continue;
    }
    EXPECT_EQ(recorder.messages(), messages_off);
    EXPECT_GT(stats.members_taken, 0);
    EXPECT_LE(stats.most_held, AHEAD_HELD_LIMIT);
    if (run.hook == SlowWrites) {
      EXPECT_GT(stats.most_held, AHEAD_HELD_LIMIT / 2);
    }
    if (run.hook == FailAheadReads) {
      EXPECT_GT(refused, 0);
    }
  }
}

}  // namespace
