// The texts of self-removal, and starting programs on a POSIX system. The
// removal itself, the process walk and the super-user check are tried end
// to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

#include "support/recorder.h"
#include "system/process.h"
#include "system/selfremove.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

// The batch's text, or "" after checking that a refusal leaves an empty buffer.
std::string Batch(const std::string& module, const std::string& batch, int size = BATCH_TEXT_SIZE) {
  std::string text(size, 'x');
  int length = ComposeRemovalBatch(module.c_str(), batch.c_str(), &text[0], size);
  EXPECT_EQ(text[length], '\0');
  return text.substr(0, length);
}

TEST(RemovalBatch, NamesQuotesAndDoublesEveryPercent) {
  char path[260];
  ASSERT_EQ(MakeBatchName("D:\\TEMP\\", 0x1234ABCDul, ".BAT", path, sizeof path), 19);
  EXPECT_STREQ(path, "D:\\TEMP\\DMXABCD.BAT");
  EXPECT_EQ(MakeBatchName("", 0x3E8, ".BAT", path, 12), 11);
  EXPECT_STREQ(path, "DMX03E8.BAT");
  EXPECT_EQ(MakeBatchName("", 0x3E8, ".BAT", path, 11), 0);
  EXPECT_STREQ(path, "");
  // Undoubled, %OS% would be expanded and %x% would vanish: the batch would
  // delete C:\aWindows_NT\setup.exe or C:\a\setup.exe instead.
  EXPECT_EQ(Batch("C:\\a%OS%\\x%\\set%%up.exe", "C:\\t%x%\\DMX0001.BAT"),
            ":Repeat\r\n"
            "del \"C:\\a%%OS%%\\x%%\\set%%%%up.exe\"\r\n"
            "if exist \"C:\\a%%OS%%\\x%%\\set%%%%up.exe\" goto Repeat\r\n"
            "rmdir \"C:\\a%%OS%%\\x%%\"\r\n"
            "del \"C:\\t%%x%%\\DMX0001.BAT\"\r\n");
  EXPECT_EQ(Batch("SETUP.EXE", "C:\\DMX0000.BAT"), "");  // no directory to remove
}

TEST(RemovalBatch, ATextOver1000CharactersIsRefused) {
  // 60 characters around the paths; the module path (n) twice, its
  // directory (n - 6) once, the batch path (45) once.
  const std::string batch = "C:\\" + std::string(30, 't') + "\\DMX0000.BAT";
  auto module_of = [](size_t n) { return "C:\\" + std::string(n - 9, 'd') + "\\s.exe"; };
  EXPECT_EQ(Batch(module_of(300), batch).size(), 999u);
  EXPECT_EQ(Batch(module_of(301), batch), "");
  std::string module = module_of(300);
  module[5] = '%';  // three characters more, doubled
  EXPECT_EQ(Batch(module, batch), "");
  EXPECT_EQ(Batch(module, batch, 2000).size(), 1002u);
}

TEST(RemovalScript, WaitsForTheProgramAndQuotesEveryPath) {
  char text[1000];
  ASSERT_GT(ComposeRemovalScript(42, "/it's $HOME/`x`/setup", "/tmp/DMX0001.sh", text, sizeof text), 0);
  EXPECT_STREQ(text,
               "#!/bin/sh\n"
               "while kill -0 42 2>/dev/null && [ -e /proc/42/exe ]; do sleep 1; done\n"
               "rm -f -- '/it'\\''s $HOME/`x`/setup'\n"
               "rmdir -- '/it'\\''s $HOME/`x`' 2>/dev/null\n"
               "rm -f -- '/tmp/DMX0001.sh'\n");
  EXPECT_EQ(ComposeRemovalScript(42, "/setup", "/t.sh", text, 40), 0);
  EXPECT_STREQ(text, "");
}

#ifndef _WIN32
TEST(RunAndWait, SplitsAtBlanksAndTabsAndReturnsAfterTheEnd) {
  ScratchDir scratch;
  fs::path script = scratch / "record.sh";
  // The output appears only after a pause: a caller that did not wait
  // would find nothing.
  WriteBytes(script, "#!/bin/sh\nsleep 0.4\nprintf '%s|' \"$@\" > \"$1.tmp\"\nmv \"$1.tmp\" \"$1\"\n");
  chmod(script.c_str(), 0755);
  std::string out = (scratch / "out").string();
  // The program is the one named apart; the first word is not looked up.
  std::string line = "record " + out + "  a\t\"b c\"  ";
  Recorder recorder;
  settings.verbose = 1;
  EXPECT_EQ(RunAndWait(script.c_str(), line.c_str(), SHOW_HIDDEN), 0);
  EXPECT_EQ(ReadBytes(out), out + "|a|\"b|c\"|");
  EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"Running " + line, line + " terminated."}));
  // Nothing started fails: missing, not executable, no words.
  recorder.Messages().clear();
  settings.verbose = 0;
  WriteBytes(scratch / "plain", "not a program");
  for (std::string nothing : {(scratch / "missing").string(), (scratch / "plain").string(), " \t "s})
    EXPECT_EQ(RunAndWait(nullptr, nothing.c_str(), SHOW_NORMAL), -1) << nothing;
  EXPECT_TRUE(recorder.messages().empty());
  // There is no setup engine to hand an INF section to.
  EXPECT_EQ(InstallInfSection(".\\ZQK9150.INF", "SetupInstall", SHOW_NORMAL), -1);
  EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"Failed to launch .\\ZQK9150.INF"}));
}
#endif

}  // namespace
