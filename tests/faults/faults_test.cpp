// Every call to the system that the file layer makes, made to fail in turn,
// once per run: each operation either succeeds with the right result, or
// ends non-zero with a message that gives the system's reason, and leaves
// nothing half made under a final name, nor removes what it did not make.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include "app/entry.h"
#include "app/install.h"
#include "archive/archive.h"
#include "files/deltree.h"
#include "media/split.h"
#include "os/fsops.h"
#include "support/recorder.h"

namespace {

#ifdef _WIN32
const int kInjected[] = {ERROR_READ_FAULT, ERROR_WRITE_FAULT, ERROR_GEN_FAILURE, ERROR_NOT_ENOUGH_MEMORY};
#else
const int kInjected[] = {EIO, ENOMEM};
#endif

std::atomic<int> calls{0}, fail_at{0};

int FailOne(int) { return ++calls == fail_at; }

std::atomic<int> allocations{0};
int CountAllocations(int call) {
  if (call == CALL_ALLOCATE) ++allocations;
  return 0;
}

// Relative path -> contents, "<dir>" for directories.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(root)) return tree;
  for (auto& item : fs::recursive_directory_iterator(root))
    tree[fs::relative(item.path(), root).generic_string()] = item.is_directory() ? "<dir>" : ReadBytes(item.path());
  return tree;
}

void MakeTree(const fs::path& root) {
  fs::create_directories(root / "sub");
  WriteBytes(root / "text", TextBytes(5000));
  WriteBytes(root / "empty", "");
  WriteBytes(root / "sub" / "random", RandomBytes(3000, 1));
}

struct Operation {
  const char* name;
  std::function<void(const fs::path&)> prepare;
  std::function<int(const fs::path&)> run;
  // What must hold afterwards, given the result.
  std::function<void(const fs::path&, int)> check;
};

// *results: those the runs ended with.
void Sweep(const Operation& op, std::set<int>* results = nullptr) {
  std::set<int> seen;
  if (!results) results = &seen;
  int count = 0;
  for (int at = 0; at == 0 || at <= count; ++at) {
    ScratchDir dir;
    op.prepare(dir.path);
    Recorder recorder;
    settings.silent = 0;
    calls = 0;
    fail_at = at;
    fault_hook = FailOne;
    int result = op.run(dir.path);
    fault_hook = nullptr;
    results->insert(result);
    if (at == 0) {
      count = calls;
      ASSERT_EQ(result, 0) << op.name << " fails without a fault";
      ASSERT_GT(count, 0);
    }
    std::string shown;
    for (const std::string& message : recorder.messages()) shown += message + "\n";
    SCOPED_TRACE(std::string(op.name) + ", call " + std::to_string(at) + " of " + std::to_string(count) +
                 ": result " + std::to_string(result) + ", said: " + shown);
    for (auto& item : fs::recursive_directory_iterator(dir.path))
      ASSERT_EQ(item.path().string().find(".part"), std::string::npos) << item.path();
    ASSERT_EQ(shown.find("damaged"), std::string::npos);
    op.check(dir.path, result);
    if (result != 0) {
      bool reason = shown.find("Out of memory for ") != std::string::npos;
      char buffer[256];
      for (int code : kInjected) reason = reason || shown.find(SystemErrorText(code, buffer, sizeof buffer)) != std::string::npos;
      ASSERT_TRUE(reason);
    }
  }
  printf("%s: %d calls, each made to fail once; results:", op.name, count);
  for (int result : *results) printf(" %d", result);
  printf("\n");
}

std::string Path(const fs::path& path) { return path.string(); }

// An archive made before the faults, and the tree it holds.
void PrepareArchive(const fs::path& dir) {
  MakeTree(dir / "tree");
  fs::create_directories(dir / "out");
  WriteBytes(dir / "out" / "keep", "not the archive's");
  WriteBytes(dir / "out" / "text", "an older text");  // under a member's name
  settings.silent = 1;
  ASSERT_EQ(CreateArchive(Path(dir / "a.zqa").c_str(), Path(dir / "tree").c_str()), 0);
}

TEST(Faults, PackingUnpackingAndTreeRemoval) {
  WorkLimits two = {2, 0, 0};
  // An archive stands under its name from before: it stays unless a whole
  // new one replaces it, and a new one holds nothing untrue. Whichever
  // thread meets a failed write, the result is 1.
  std::set<int> packed;
  Sweep({"-a", [](const fs::path& dir) { MakeTree(dir / "tree"); WriteBytes(dir / "a.zqa", "old archive"); },
         [&](const fs::path& dir) { return CreateArchive(Path(dir / "a.zqa").c_str(), Path(dir / "tree").c_str(), &two); },
         [](const fs::path& dir, int result) {
           if (ReadBytes(dir / "a.zqa") == "old archive") {
             ASSERT_NE(result, 0);
             return;
           }
           std::string said;
           for (const std::string& message : Recorder::Messages()) said += message;
           settings.silent = 1;
           ASSERT_EQ(ExtractArchive(Path(dir / "a.zqa").c_str(), Path(dir / "back").c_str()), 0);
           auto tree = Snapshot(dir / "tree");
           if (result == 0) {
             ASSERT_EQ(Snapshot(dir / "back"), tree);
           }
           // Only what was named as left out is missing; nothing is wrong.
           for (auto& [path, contents] : Snapshot(dir / "back")) ASSERT_EQ(contents, tree[path]) << path;
           ASSERT_TRUE(result == 0 || said.find("left out") != std::string::npos ||
                       said.find("not archived") != std::string::npos || said.find("archived empty") != std::string::npos);
         }},
        &packed);
  EXPECT_EQ(packed, (std::set<int>{-1, 0, 1}));
  std::set<int> unpacked;
  Sweep({"-x", PrepareArchive,
         [](const fs::path& dir) { return ExtractArchive(Path(dir / "a.zqa").c_str(), Path(dir / "out").c_str()); },
         [](const fs::path& dir, int result) {
           auto tree = Snapshot(dir / "tree");
           tree["keep"] = "not the archive's";
           auto out = Snapshot(dir / "out");
           if (result == 0) {
             ASSERT_EQ(out, tree);
           }
           // Whole, or not there; and what stood under a name stays until
           // the whole member replaces it.
           if (out["text"] == "an older text") out["text"] = tree["text"];
           for (auto& [path, contents] : out) ASSERT_EQ(contents, tree[path]) << path;
           ASSERT_EQ(out["keep"], "not the archive's");
         }},
        &unpacked);
  // A member that cannot be written (4) is told from an archive that cannot be read (5).
  EXPECT_EQ(unpacked, (std::set<int>{-1, 0, 1, 4, 5}));
  Sweep({"-dt", [](const fs::path& dir) { MakeTree(dir / "tree"); WriteBytes(dir / "beside", "b"); },
         [](const fs::path& dir) { return DeleteTree(Path(dir / "tree").c_str()); },
         [](const fs::path& dir, int result) {
           ASSERT_EQ(fs::exists(dir / "tree"), result != 0);
           ASSERT_EQ(ReadBytes(dir / "beside"), "b");
         }});
}

TEST(Faults, CuttingAndRejoining) {
  std::string data = RandomBytes(PIECE_SIZE + 10, 7);
  std::set<int> cut;
  Sweep({"-c", [&](const fs::path& dir) { WriteBytes(dir / "P.ZQA", data); },
         [](const fs::path& dir) { return SplitFile(Path(dir / "P.ZQA").c_str()); },
         [&](const fs::path& dir, int result) {
           // Each piece there is whole.
           std::string pieces[2] = {data.substr(0, 10), data.substr(10)};
           for (int i = 0; i < 2; i++) {
             fs::path piece = dir / ("P.00" + std::to_string(i + 1));
             if (fs::exists(piece)) {
               ASSERT_TRUE(ReadBytes(piece) == pieces[i]) << piece;
             } else {
               ASSERT_NE(result, 0);
             }
           }
         }},
        &cut);
  EXPECT_EQ(cut, (std::set<int>{0, 1, 2, 3}));
  Sweep({"rejoin",
         [](const fs::path& dir) {
           for (int i = 1; i <= 3; i++) WriteBytes(dir / ("ZQK9150.00" + std::to_string(i)), std::string(i * 10000, 'a' + i));
           fs::current_path(dir);
         },
         [](const fs::path&) { return RejoinPieces(); },
         [](const fs::path& dir, int result) {
           std::string whole = std::string(10000, 'b') + std::string(20000, 'c') + std::string(30000, 'd');
           if (fs::exists(dir / "ZQK9150.ZQA")) {
             ASSERT_TRUE(ReadBytes(dir / "ZQK9150.ZQA") == whole);
           } else {
             ASSERT_NE(result, 0);
           }
         }});
}

int FailFirstWrite(int call) { return call == CALL_WRITE && ++calls == 1; }

TEST(Faults, CancelAtAFailedWriteStopsTheUnpackingWithoutTheCutMember) {
  ScratchDir dir;
  PrepareArchive(dir.path);
  Recorder recorder;
  message_hook = [](const char* text) {
    Recorder::Messages().push_back(text);
    return std::string(text).find("Failed to write file") == 0 ? 2 : 1;
  };
  calls = 0;
  fault_hook = FailFirstWrite;
  WorkLimits here = {-1, 0, 0};  // with workers, members after it may be written before the answer
  ExtractArchive(Path(dir / "a.zqa").c_str(), Path(dir / "out").c_str(), &here);
  fault_hook = nullptr;
  EXPECT_EQ(StopRequested(), 1);
  ClearStop();
  ASSERT_EQ(recorder.messages().size(), 1u);
  // The first member written stops it all: nothing but what was there.
  EXPECT_EQ(Snapshot(dir / "out"), (std::map<std::string, std::string>{{"empty", ""}, {"keep", "not the archive's"},
                                                                        {"sub", "<dir>"}, {"text", "an older text"}}));
}

// The first failed write, or allocation of a worker (the walk's own would
// only end its listing), after some files opened; and the calls made
// after it.
std::atomic<int> opens_before{5}, opens{0}, opens_after{0}, reads_after{0}, failing{0};
std::atomic<bool> failed{false};
std::thread::id walk;
bool unpacking;  // where the calling thread takes the memory
int FailAfterFiveOpens(int call) {
  // Slow writers make the unpacking hold more, and take memory for it.
  if (unpacking && call == CALL_WRITE && failing >> 1 == CALL_ALLOCATE) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (failed) {
    if (call == CALL_OPEN) ++opens_after;
    if (call == CALL_READ) ++reads_after;
    return call == CALL_ALLOCATE;  // memory, once out, stays out
  }
  if (call == CALL_OPEN && ++opens > opens_before) failing = failing.load() | 1;
  if ((failing & 1) && call == failing >> 1 && (call != CALL_ALLOCATE || std::this_thread::get_id() != walk || unpacking))
    failed = true;
  return failed.load();
}

// With many members and several workers, a run that meets a failure stops
// within the members in flight: none is opened or created after it, and
// each in flight ends within its block.
TEST(Faults, PackingAndUnpackingStopWithinTheMembersInFlight) {
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  for (int i = 0; i < 16; i++) WriteBytes(dir / "tree" / ("m" + std::to_string(100 + i)), TextBytes(1 << 19) + char(i));
  settings.silent = 1;
  ASSERT_EQ(CreateArchive(Path(dir / "a.zqa").c_str(), Path(dir / "tree").c_str()), 0);
  WorkLimits two = {2, 0, 0};
  struct Case {
    const char* name;
    bool pack;
    int call;
    int result;
    int opens_before;  // the decoding runs ahead: its memory is taken early
  } cases[] = {
      {"-a, write", true, CALL_WRITE, 1, 5},
      {"-a, memory", true, CALL_ALLOCATE, 1, 5},
      {"-x, write", false, CALL_WRITE, 4, 5},
      {"-x, memory", false, CALL_ALLOCATE, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir / "out");
    WriteBytes(dir / "b.zqa", "old archive");
    Recorder recorder;
    opens = opens_after = reads_after = 0;
    opens_before = c.opens_before;
    failing = c.call << 1;
    failed = false;
    walk = std::this_thread::get_id();
    unpacking = !c.pack;
    fault_hook = FailAfterFiveOpens;
    int result = c.pack ? CreateArchive(Path(dir / "b.zqa").c_str(), Path(dir / "tree").c_str(), &two)
                        : ExtractArchive(Path(dir / "a.zqa").c_str(), Path(dir / "out").c_str(), &two);
    fault_hook = nullptr;
    ASSERT_TRUE(failed);
    EXPECT_EQ(result, c.result);
    // The walk may have one file open, or the other worker one created; a
    // worker may have one read of a member under way (the unpacking's
    // reads are of the archive).
    EXPECT_LE(opens_after.load(), 1);
    if (c.pack) {
      EXPECT_LE(reads_after.load(), 4);
    }
    EXPECT_EQ(ReadBytes(dir / "b.zqa"), "old archive");
    if (!c.pack) {
      EXPECT_EQ(recorder.messages().size(), 1u) << recorder.last();
      for (auto& [path, contents] : Snapshot(dir / "out")) EXPECT_EQ(path.find(".part"), std::string::npos) << path;
    }
  }
}

// Failures that once went unsaid: a process list that cannot be read is
// not one without the task; an archive whose identity cannot be told might
// be packed into itself, and is not written.
TEST(Faults, WhatCannotBeToldIsSaidAndNotTakenForAnAnswer) {
  Recorder recorder;
  calls = 0;
  fault_hook = [](int call) { return call == CALL_LIST ? 1 : 0; };
  EXPECT_EQ(RunProgram("-tp"), 1);
  fault_hook = nullptr;
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.last().find("Cannot list the running processes to look for _ISDEL.EXE. "), 0u);
  ScratchDir dir;
  MakeTree(dir / "tree");
  std::string archive = Path(dir / "tree" / "a.zqa");
  fault_hook = [](int call) -> int { return call == CALL_IDENTIFY && ++calls == 1; };
  EXPECT_EQ(CreateArchive(archive.c_str(), Path(dir / "tree").c_str()), 1);
  fault_hook = nullptr;
  EXPECT_EQ(recorder.last().find("Failed to create archive " + archive + ". "), 0u);
  EXPECT_EQ(Snapshot(dir / "tree").count("a.zqa"), 0u);
}

TEST(Faults, AFourthPieceIsNeverLeftOut) {
  Recorder recorder;
  ScratchDir dir;
  for (const char* name : {"ZQK9150.001", "ZQK9150.002", "ZQK9150.003", "ZQK9150.004"}) WriteBytes(dir / name, name);
  fs::current_path(dir.path);
  EXPECT_EQ(RejoinPieces(), 1);
  EXPECT_EQ(recorder.last(), "The package has more pieces than three (ZQK9150.004 is there); it cannot be rejoined.");
  EXPECT_FALSE(fs::exists(dir / "ZQK9150.ZQA"));
}

// A package whose pieces hold damage, cut as -c cuts it: the pieces that
// hold it are named, with their disks where the INF file beside the
// program has them, and nothing is joined.
TEST(Rejoin, DamageIsToldByThePieceThatHoldsIt) {
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  WriteBytes(dir / "tree" / "random", RandomBytes(3000000, 3));
  settings.silent = 1;
  ASSERT_EQ(CreateArchive(Path(dir / "ZQK9150.ZQA").c_str(), Path(dir / "tree").c_str()), 0);
  ASSERT_EQ(SplitFile(Path(dir / "ZQK9150.ZQA").c_str()), 0);
  std::string pieces[3];
  for (int i = 0; i < 3; i++) pieces[i] = ReadBytes(dir / ("ZQK9150.00" + std::to_string(i + 1)));
  const size_t first = pieces[0].size(), second = first + PIECE_SIZE, end = second + PIECE_SIZE;
  WriteBytes(dir / "ZQK9150.INF", "[SourceDisksFiles]\nZQK9150.001=1\nZQK9150.002=2,,,\n");
  const std::string tail = " is damaged. Copy the medium again.";
  struct Case {
    size_t flipped;  // a byte of the joined archive, or (cut) one piece 2 ends before
    bool cut;
    bool listed;     // the INF file is there
    std::string said;
  } cases[] = {
      {second - PIECE_SIZE / 2, false, true, "The package on disk 2 (ZQK9150.002)" + tail},
      {10, false, true, "The package on disk 1 (ZQK9150.001)" + tail},
      {end - 14, false, true, "The package on piece ZQK9150.003" + tail},  // the check record itself
      {second - PIECE_SIZE / 2, false, false, "The package on piece ZQK9150.002" + tail},
      // The 64 KiB block around the first piece's end lies in two pieces.
      {first - 1, false, true, "The package on disk 1 (ZQK9150.001) or disk 2 (ZQK9150.002)" + tail},
      {1000, true, true, "The package on disk 2 (ZQK9150.002)" + tail},
      {200000, true, true, "The package on disk 2 (ZQK9150.002)" + tail},  // more than a block
  };
  for (const Case& c : cases) {
    Recorder recorder;
    std::string bytes = pieces[0] + pieces[1] + pieces[2];
    if (!c.cut) bytes[c.flipped] ^= 0x10;
    fs::create_directories(dir / "target");
    size_t bounds[4] = {0, first, second - (c.cut ? c.flipped : 0), end - (c.cut ? c.flipped : 0)};
    if (c.cut) bytes.erase(second - c.flipped, c.flipped);
    for (int i = 0; i < 3; i++)
      WriteBytes(dir / "target" / ("ZQK9150.00" + std::to_string(i + 1)), bytes.substr(bounds[i], bounds[i + 1] - bounds[i]));
    snprintf(settings.module_directory, PATH_SIZE, "%s", Path(c.listed ? dir.path : dir / "target").c_str());
    fs::current_path(dir / "target");
    EXPECT_EQ(RejoinPieces(), 1);
    EXPECT_EQ(recorder.last(), c.said);
    EXPECT_FALSE(fs::exists(dir / "target" / "ZQK9150.ZQA"));
    EXPECT_TRUE(fs::exists(dir / "target" / "ZQK9150.002"));
    fs::current_path(dir.path);
    fs::remove_all(dir / "target");
  }
  settings.module_directory[0] = '\0';
}

TEST(Faults, WithoutMemoryForTheCommandLineNothingElseRuns) {
  Recorder recorder;
  calls = 0;
  fail_at = 1;
  fault_hook = FailOne;
  int result = RunProgram("-tr 5");
  fault_hook = nullptr;
  EXPECT_EQ(result, 1);
  EXPECT_EQ(recorder.messages(), std::vector<std::string>{"Out of memory for the command line."});
}

// Within a budget of one block, unpacking a member reuses that block
// however long the member is, rather than holding more.
TEST(Faults, UnpackingStaysWithinItsBudget) {
  auto allocations_for = [](size_t size) {
    ScratchDir dir;
    fs::create_directories(dir / "tree");
    WriteBytes(dir / "tree" / "big", RandomBytes(size, 7));
    settings.silent = 1;
    EXPECT_EQ(CreateArchive(Path(dir / "a.zqa").c_str(), Path(dir / "tree").c_str()), 0);
    WorkLimits one_block = {1, 0, 1};
    allocations = 0;
    fault_hook = CountAllocations;
    EXPECT_EQ(ExtractArchive(Path(dir / "a.zqa").c_str(), Path(dir / "out").c_str(), &one_block), 0);
    fault_hook = nullptr;
    return allocations.load();
  };
  // Both too large to be decoded ahead.
  EXPECT_EQ(allocations_for(6 << 20), allocations_for(3 << 19));
}

}  // namespace
