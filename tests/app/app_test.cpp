// The installation's log as the message channel writes it, where
// InstallShield's setup.log is looked for, and the removal's patience with
// entries in use.
#include <gtest/gtest.h>

#include <cerrno>
#include <regex>

#include "app/install.h"
#include "app/installlog.h"
#include "files/deltree.h"
#include "os/fsops.h"
#include "support/recorder.h"

namespace {

#ifdef _WIN32
const int kInUse = 32;  // ERROR_SHARING_VIOLATION
#else
const int kInUse = EBUSY;
#endif

// The log's text with its time stamps checked and taken away.
std::string Entries(const fs::path& log) {
  std::string text = ReadBytes(log);
  EXPECT_TRUE(std::regex_search(text, std::regex("^\\d\\d:\\d\\d:\\d\\d "))) << text;
  return std::regex_replace(text, std::regex("(^|\n)\\d\\d:\\d\\d:\\d\\d "), "$1");
}

TEST(InstallLog, TakesEveryMessageShownOrSilentAndOnlyWhileOpen) {
  ScratchDir scratch;
  Recorder recorder;
  std::string path = (scratch / "setup.log").string();
  WriteBytes(path, "the run before\r\n");
  InstallLog log;
  OpenInstallLog(&log, path.c_str(), true);
  MessagePrintf("Shown %d", 1);
  settings.silent = 1;
  MessagePrintf("Silent\nin two lines\n");
  SetSystemError(kInUse);
  ReportFailure("Cannot delete %s.", "x");
  EXPECT_EQ(LastSystemError(), kInUse);  // the log keeps the code for the caller
  settings.silent = 0;
  LogPrintf("Step: %s.", "only here");
  LogText("setup.log: ", "[ResponseResult]\r\nResultCode=0\r\n");
  CloseInstallLog(&log);
  MessagePrintf("After");
  EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"Shown 1", "After"}));
  std::string entries = Entries(path);
  std::string reason = entries.substr(entries.find("x. ") + 3, entries.find("\r\nStep") - entries.find("x. ") - 3);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(entries, "Message: Shown 1\r\n"
                     "Message: Silent\r\n         in two lines\r\n"
                     "Message: Cannot delete x. " + reason + "\r\n"
                     "Step: only here.\r\n"
                     "setup.log: [ResponseResult]\r\n         ResultCode=0\r\n");
  // Appending adds after what is there.
  OpenInstallLog(&log, path.c_str(), false);
  MessagePrintf("Another");
  CloseInstallLog(&log);
  EXPECT_EQ(Entries(path), entries + "Message: Another\r\n");
}

TEST(InstallLog, ALogThatCannotBeWrittenIsLeftOutAndNothingIsWrittenThroughALink) {
  ScratchDir scratch;
  Recorder recorder;
  WriteBytes(scratch / "outside", "outside");
  std::vector<std::pair<std::string, bool>> cases = {{(scratch / "no-dir" / "setup.log").string(), true},
                                                     {scratch.str(), true}, {scratch.str(), false}};
#ifndef _WIN32
  fs::create_symlink(scratch / "outside", scratch / "symlink");
  fs::create_hard_link(scratch / "outside", scratch / "hardlink");
  cases.push_back({(scratch / "symlink").string(), false});
  cases.push_back({(scratch / "hardlink").string(), false});
#endif
  for (const auto& [path, fresh] : cases) {
    InstallLog log;
    OpenInstallLog(&log, path.c_str(), fresh);
    EXPECT_EQ(log.file.value, NO_FILE) << path;
    MessagePrintf("Still shown");
    CloseInstallLog(&log);
  }
  EXPECT_EQ(recorder.messages().size(), cases.size());
  EXPECT_EQ(ReadBytes(scratch / "outside"), "outside");
#ifndef _WIN32
  // A fresh log takes the place of a link standing there, which goes itself.
  for (const char* name : {"symlink", "hardlink"}) {
    InstallLog log;
    OpenInstallLog(&log, (scratch / name).string().c_str(), true);
    MessagePrintf("Mine");
    CloseInstallLog(&log);
    EXPECT_FALSE(fs::is_symlink(scratch / name));
    EXPECT_EQ(Entries(scratch / name), "Message: Mine\r\n");
  }
  EXPECT_EQ(ReadBytes(scratch / "outside"), "outside");
#endif
  // A write that fails ends the log, not the run.
  InstallLog log;
  OpenInstallLog(&log, (scratch / "full.log").string().c_str(), true);
  fault_hook = [](int call) { return call == CALL_WRITE ? 1 : 0; };
  MessagePrintf("Lost");
  fault_hook = nullptr;
  MessagePrintf("Shown");
  EXPECT_EQ(log.file.value, NO_FILE);
  CloseInstallLog(&log);
  EXPECT_EQ(recorder.last(), "Shown");
}

TEST(SetupLogPath, FollowsInstallShieldsOptions) {
  const char* setup = "C:\\T\\is\\setup.exe";
  struct Case {
    const char* arguments;
    const char* path;  // null: no silent run, no setup.log
  } cases[] = {
      {"", nullptr},
      {" /q -f2C:\\logs\\k.log", nullptr},
      {" -sms", nullptr},
      {" -s", "C:\\T\\is\\setup.log"},
      {" /S /q", "C:\\T\\is\\setup.log"},
      {" -s -f2C:\\logs\\k.log", "C:\\logs\\k.log"},
      {" -s /F2\"C:\\my logs\\k.log\" /q", "C:\\my logs\\k.log"},
      {" -s -f1C:\\answers\\setup.iss", "C:\\answers\\setup.log"},
      {" -s -f2D:\\k.log -f1C:\\a\\setup.iss", "D:\\k.log"},
      {" -s -f1\"C:\\my answers\\k.iss\"", "C:\\my answers\\setup.log"},
      {" -s -f2", "C:\\T\\is\\setup.log"},
  };
  for (const Case& c : cases) {
    char path[260] = "unchanged";
    EXPECT_EQ(SetupLogPath(c.arguments, setup, path, sizeof path), c.path ? 1 : 0) << c.arguments;
    if (c.path) {
      EXPECT_STREQ(path, c.path) << c.arguments;
    }
  }
}

int fails_left = 0;
int fail_code = 0;

int FailDeletes(int call) {
  if ((call != CALL_DELETE && call != CALL_REMOVE_DIRECTORY) || fails_left == 0) return 0;
  if (fails_left > 0) --fails_left;
  return fail_code;
}

TEST(DeleteTree, AnEntryInUseIsWaitedForWithinThePatience) {
  ScratchDir scratch;
  Recorder recorder;
  std::string path = (scratch / "setup.log").string();
  InstallLog log;
  OpenInstallLog(&log, path.c_str(), true);
  struct Case {
    int fails;     // -1: for ever
    int code;      // the failure's: in use, or the seam's own (1)
    int patience;  // ms
    bool read_only;
    int result;
    const char* logged;  // the wait's line, or "" when none
  } cases[] = {
      {3, kInUse, 15000, false, 0, "held.txt was in use; waited 700 ms for it."},  // 100 + 200 + 400
      {-1, kInUse, 500, false, -1, "held.txt was in use; waited 500 ms for it."},
      {-1, kInUse, 0, false, -1, ""},
      {-1, kInUse, 15000, true, -1, ""},  // a read-only file refuses for good
      {-1, 1, 15000, false, -1, ""},      // and so does another failure
  };
  for (const Case& c : cases) {
    fs::create_directories(scratch / "tree" / "sub");
    WriteBytes(scratch / "tree" / "sub" / "held.txt", "held");
    SetReadOnly(scratch / "tree" / "sub" / "held.txt", c.read_only);
    fails_left = c.fails;
    fail_code = c.code;
    fault_hook = FailDeletes;
    EXPECT_EQ(DeleteTreeKeeping((scratch / "tree").string().c_str(), nullptr, c.patience), c.result);
    fault_hook = nullptr;
    std::string entries = ReadBytes(path);
    size_t at = entries.find("was in use");
    EXPECT_EQ(at == std::string::npos, !c.logged[0]) << entries;
    if (c.logged[0]) {
      EXPECT_NE(entries.find(c.logged), std::string::npos) << entries;
    }
    EXPECT_EQ(fs::exists(scratch / "tree"), c.result != 0);
    // What stays is reported with the system's reason.
    EXPECT_EQ(recorder.messages().size(), c.result == 0 ? 0u : 1u);
    recorder.Messages().clear();
    SetReadOnly(scratch / "tree" / "sub" / "held.txt", false);
    fs::remove_all(scratch / "tree");
    CloseInstallLog(&log);
    OpenInstallLog(&log, path.c_str(), true);
  }
  CloseInstallLog(&log);
}

}  // namespace
