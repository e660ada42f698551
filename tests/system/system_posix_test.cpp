// Starting programs on a POSIX system. The /proc walk, the super-user check
// and self-removal are tried end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/recorder.h"
#include "support/scratch.h"
#include "system/process.h"

namespace {

TEST(RunAndWait, SplitsAtBlanksAndTabsAndReturnsAfterTheEnd) {
  ScratchDir scratch;
  fs::path script = scratch / "record.sh";
  // The output appears only after a pause: a caller that did not wait
  // would find nothing.
  WriteBytes(script,
             "#!/bin/sh\nsleep 0.4\nprintf '%s|' \"$@\" > \"$1.tmp\"\nmv \"$1.tmp\" \"$1\"\n");
  chmod(script.c_str(), 0755);
  std::string out = (scratch / "out").string();
  // The program is the one named apart; the first word is not looked up.
  std::string line = "record " + out + "  a\t\"b c\"  ";
  Recorder recorder;
  settings.verbose = 1;
  EXPECT_NE(RunAndWait(script.c_str(), line.c_str(), SHOW_HIDDEN), 0);
  EXPECT_EQ(ReadBytes(out), out + "|a|\"b|c\"|");
  EXPECT_EQ(recorder.messages(),
            (std::vector<std::string>{"Running " + line, line + " terminated."}));
}

TEST(RunAndWait, NothingStartedGivesZero) {
  ScratchDir scratch;
  WriteBytes(scratch / "plain", "not a program");  // exists, not executable
  Recorder recorder;
  EXPECT_EQ(RunAndWait(nullptr, (scratch / "missing").c_str(), SHOW_NORMAL), 0);
  EXPECT_EQ(RunAndWait(nullptr, (scratch / "plain").c_str(), SHOW_NORMAL), 0);
  EXPECT_EQ(RunAndWait(nullptr, " \t ", SHOW_NORMAL), 0);
  EXPECT_TRUE(recorder.messages().empty());
  // There is no setup engine to hand an INF section to.
  EXPECT_EQ(InstallInfSection(".\\ZQK9150.INF", "SetupInstall", SHOW_NORMAL), 0);
  EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"Failed to launch .\\ZQK9150.INF"}));
}

}  // namespace
