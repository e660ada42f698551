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
  MessagePrintf(NEWS, "Shown %d", 1);
  settings.silent = 1;
  MessagePrintf(NEWS, "Silent\nin two lines\n");
  SetSystemError(kInUse);
  ReportFailure("Cannot delete %s.", "x");
  EXPECT_EQ(LastSystemError(), kInUse);  // the log keeps the code for the caller
  settings.silent = 0;
  LogPrintf("Step: %s.", "only here");
  LogText("setup.log: ", "[ResponseResult]\r\nResultCode=0\r\n");
  CloseInstallLog(&log);
  MessagePrintf(NEWS, "After");
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
  MessagePrintf(NEWS, "Another");
  CloseInstallLog(&log);
  EXPECT_EQ(Entries(path), entries + "Message: Another\r\n");
}

// What becomes of a message of each kind without -s and -v, with -v, with
// -s and with both: whether it is shown (the answer is Cancel, or no) and
// logged, its result, and whether the run is asked to stop.
TEST(Messages, EachKindHasItsSilentDefaultAndAVerboseOneIsSaidOnlyWithV) {
  Recorder recorder;
  message_hook = [](const char* text) {
    Recorder::Messages().push_back(text);
    return 2;
  };
  static std::string logged;
  SetLogWriter([](void*, const char*, const char* text) { logged += text; }, nullptr);
  const char* const told[] = {"shown logged 0 stop", "shown logged 0 stop", "logged 1", "logged 1"};
  const std::pair<MessageKind, std::vector<std::string>> kinds[] = {
      {NEWS, {told, told + 4}},
      {WARNING, {told, told + 4}},
      {FAILURE, {told, told + 4}},
      {QUESTION, {"shown logged 0", "shown logged 0", "logged 1", "logged 1"}},
      {VERBOSE, {"1", "shown logged 0 stop", "1", "logged 1"}},
  };
  for (const auto& [kind, fates] : kinds) {
    for (int mode = 0; mode < 4; mode++) {
      settings.silent = mode >= 2;
      settings.verbose = mode % 2;
      Recorder::Messages().clear();
      logged.clear();
      int result = MessagePrintf(kind, "text");
      std::string fate = std::string(recorder.messages().empty() ? "" : "shown ") + (logged.empty() ? "" : "logged ") +
                         std::to_string(result) + (StopRequested() ? " stop" : "");
      ClearStop();
      EXPECT_EQ(fate, fates[mode]) << "kind " << kind << ", silent " << settings.silent << ", verbose " << settings.verbose;
    }
  }
  SetLogWriter(nullptr, nullptr);
}

// The path goes in as it is; the reason follows the action or, in the copy
// reports' form, the code and the reason lead.
TEST(Messages, AFailureReportNamesThePathAndTheSystemsReason) {
  char words[256];
  std::string reason = SystemErrorText(2, words, sizeof words);
  const struct {
    const char* action;
    const char* path;
    FailureForm form;
    std::string said;
  } cases[] = {
      {"Cannot delete %s.", "100%s d%d", REASON_AFTER, "Cannot delete 100%s d%d. " + reason + "."},
      {"Failed to read file %s to its end; it stops.", "f", REASON_AFTER, "Failed to read file f to its end; it stops. " + reason + "."},
      {"\nCopy: Error reading from file %s.\n", "a%b", CODE_FIRST, "Error 2: " + reason + "\nCopy: Error reading from file a%b.\n"},
  };
  char text[MESSAGE_BUFFER_SIZE];
  for (const auto& c : cases) {
    ComposeFailure(text, c.action, c.path, 2, c.form);
    EXPECT_EQ(text, c.said);
  }
  std::string long_path(2000, 'p');
  EXPECT_EQ(ComposeFailure(text, "Cannot delete %s.", long_path.c_str(), 2, REASON_AFTER), MESSAGE_BUFFER_SIZE - 1);
  EXPECT_EQ(strlen(text), MESSAGE_BUFFER_SIZE - 1u);
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
    MessagePrintf(NEWS, "Still shown");
    CloseInstallLog(&log);
  }
  EXPECT_EQ(recorder.messages().size(), cases.size());
  EXPECT_EQ(ReadBytes(scratch / "outside"), "outside");
#ifndef _WIN32
  // A fresh log takes the place of a link standing there, which goes itself.
  for (const char* name : {"symlink", "hardlink"}) {
    InstallLog log;
    OpenInstallLog(&log, (scratch / name).string().c_str(), true);
    MessagePrintf(NEWS, "Mine");
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
  MessagePrintf(NEWS, "Lost");
  fault_hook = nullptr;
  MessagePrintf(NEWS, "Shown");
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
