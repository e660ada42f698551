// Starting programs, the /proc walk, the administrator check and the removal
// script on a POSIX system.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/entry.h"
#include "support/recorder.h"
#include "support/scratch.h"
#include "system/admin.h"
#include "system/procenum.h"
#include "system/process.h"
#include "system/selfremove.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

void WriteScript(const fs::path& path, const std::string& body) {
  WriteBytes(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

pid_t Spawn(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  EXPECT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  return child;
}

void EndChild(pid_t child) {
  kill(child, SIGKILL);
  int status;
  waitpid(child, &status, 0);
}

TEST(RunAndWait, SplitsAtBlanksAndTabsAndReturnsAfterTheEnd) {
  ScratchDir scratch;
  fs::path script = scratch / "record.sh";
  // The output appears only after a pause: a caller that did not wait
  // would find nothing.
  WriteScript(script, "sleep 0.4\nprintf '%s|' \"$@\" > \"$1.tmp\"\nmv \"$1.tmp\" \"$1\"\n");
  std::string out = (scratch / "out").string();
  Recorder recorder;
  auto start = Clock::now();
  std::string line = script.string() + " " + out + "  a\t\"b c\"  ";
  EXPECT_NE(RunAndWait(line.c_str(), SHOW_HIDDEN), 0);
  EXPECT_GE(ElapsedMs(start), 400);
  EXPECT_EQ(ReadBytes(out), out + "|a|\"b|c\"|");
  EXPECT_TRUE(recorder.messages().empty());
}

TEST(RunAndWait, VerboseModeShowsTheStartAndTheEnd) {
  Recorder recorder;
  verbose_mode = 1;
  EXPECT_NE(RunAndWait("true x", SHOW_NORMAL), 0);
  EXPECT_EQ(recorder.messages(),
            (std::vector<std::string>{"Running true x", "true x terminated."}));
}

TEST(RunAndWait, ProgramThatCannotStartGivesZeroWithoutMessage) {
  ScratchDir scratch;
  WriteBytes(scratch / "plain", "not a program");  // exists, not executable
  Recorder recorder;
  EXPECT_EQ(RunAndWait((scratch / "missing").c_str(), SHOW_NORMAL), 0);
  EXPECT_EQ(RunAndWait((scratch / "plain").c_str(), SHOW_NORMAL), 0);
  EXPECT_EQ(RunAndWait(" \t ", SHOW_NORMAL), 0);
  EXPECT_TRUE(recorder.messages().empty());
  verbose_mode = 1;
  EXPECT_EQ(RunAndWait((scratch / "missing").c_str(), SHOW_NORMAL), 0);
  EXPECT_EQ(recorder.messages().size(), 1u);  // "Running", never "terminated"
}

TEST(InstallInfSection, HasNoSetupEngineHere) {
  Recorder recorder;
  EXPECT_EQ(InstallInfSection(".\\ZQK9150.INF", "SetupInstall", SHOW_NORMAL), 0);
  EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"Failed to launch .\\ZQK9150.INF"}));
}

struct Seen {
  unsigned long id;
  unsigned short task;
  std::string name;
};

int Collect(unsigned long id, unsigned short task, const char* name, void* context) {
  ((std::vector<Seen>*)context)->push_back({id, task, name});
  return 1;
}

const Seen* Find(const std::vector<Seen>& seen, unsigned long id) {
  for (const Seen& entry : seen)
    if (entry.id == id) return &entry;
  return nullptr;
}

TEST(EnumerateProcesses, FindsAChildByItsExecutableUntilItEnds) {
  ScratchDir scratch;
  fs::path task = scratch / "_ISDEL.EXE";
  fs::copy_file("/bin/sleep", task);
  chmod(task.c_str(), 0755);
  pid_t child = Spawn({task.string(), "30"});
  ASSERT_GT(child, 0);

  std::vector<Seen> seen;
  EXPECT_EQ(EnumerateProcesses(Collect, &seen), 1);
  const Seen* entry = Find(seen, (unsigned long)child);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->task, 0);
  EXPECT_EQ(entry->name, fs::canonical(task).string());
  const Seen* self = Find(seen, (unsigned long)getpid());
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->name, fs::canonical("/proc/self/exe").string());

  int found = 0;
  EnumerateProcesses(CleanupTaskCallback, &found);
  EXPECT_EQ(found, 1);

  EndChild(child);
  seen.clear();
  EnumerateProcesses(Collect, &seen);
  EXPECT_EQ(Find(seen, (unsigned long)child), nullptr);
  found = 0;
  EnumerateProcesses(CleanupTaskCallback, &found);
  EXPECT_EQ(found, 0);
}

int StopAtOnce(unsigned long, unsigned short, const char*, void* context) {
  ++*(int*)context;
  return 0;
}

TEST(EnumerateProcesses, CallbackStopsTheWalk) {
  int calls = 0;
  EXPECT_EQ(EnumerateProcesses(StopAtOnce, &calls), 1);
  EXPECT_EQ(calls, 1);
}

TEST(IsAdministrator, IsTheSuperUser) { EXPECT_EQ(IsAdministrator(), geteuid() == 0 ? 1 : 0); }

// The removal script run for real against a stand-in process.
struct ScriptRun {
  ScratchDir scratch;
  fs::path folder;
  fs::path program;
  fs::path script;
  pid_t owner = -1;

  explicit ScriptRun(const std::string& folder_name) {
    folder = scratch / folder_name;
    fs::create_directory(folder);
    program = folder / "setup";
    WriteBytes(program, "program");
    script = scratch / "DMX0001.sh";
    owner = Spawn({"/bin/sleep", "30"});
    char text[2000];
    EXPECT_GT(ComposeRemovalScript(owner, program.c_str(), script.c_str(), text, sizeof text), 0);
    WriteBytes(script, text);
    Spawn({"/bin/sh", script.string()});  // reaped by nobody until the test ends
  }
  ~ScriptRun() {
    if (owner > 0) EndChild(owner);
  }
  // Polls for up to five seconds.
  static bool Gone(const fs::path& path) {
    for (int i = 0; i < 50; ++i) {
      if (!fs::exists(fs::symlink_status(path))) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
};

TEST(RemovalScript, WaitsForTheProcessThenRemovesProgramFolderAndItself) {
  ScriptRun run("it's $HOME `x`");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(fs::exists(run.program));  // the process still runs
  EndChild(run.owner);
  run.owner = -1;
  EXPECT_TRUE(ScriptRun::Gone(run.script));
  EXPECT_FALSE(fs::exists(run.program));
  EXPECT_FALSE(fs::exists(run.folder));
  EXPECT_TRUE(fs::exists(run.scratch.path));
}

TEST(RemovalScript, KeepsAFolderThatHoldsOtherFiles) {
  ScriptRun run("folder");
  WriteBytes(run.folder / "other", "x");
  EndChild(run.owner);
  run.owner = -1;
  EXPECT_TRUE(ScriptRun::Gone(run.script));
  EXPECT_FALSE(fs::exists(run.program));
  EXPECT_EQ(ReadBytes(run.folder / "other"), "x");
}

}  // namespace
