// The texts of the self-removal helpers.
#include <gtest/gtest.h>

#include <string>

#include "system/selfremove.h"

namespace {

// The text, or "" after checking that a refusal leaves an empty buffer.
std::string Batch(const std::string& module, const std::string& batch, int size = BATCH_TEXT_SIZE) {
  std::string text(size, 'x');
  int length = ComposeRemovalBatch(module.c_str(), batch.c_str(), &text[0], size);
  EXPECT_EQ(text[length], '\0');
  return text.substr(0, length);
}

TEST(RemovalBatch, NamesAndFillsTheBatchOfTheExample) {
  char path[260];
  ASSERT_EQ(MakeBatchName("D:\\TEMP\\", 0x1234ABCDul, ".BAT", path, sizeof path), 19);
  EXPECT_STREQ(path, "D:\\TEMP\\DMXABCD.BAT");
  EXPECT_EQ(Batch("D:\\SETUP\\SETUP.EXE", path),
            ":Repeat\r\n"
            "del \"D:\\SETUP\\SETUP.EXE\"\r\n"
            "if exist \"D:\\SETUP\\SETUP.EXE\" goto Repeat\r\n"
            "rmdir \"D:\\SETUP\"\r\n"
            "del \"D:\\TEMP\\DMXABCD.BAT\"\r\n");
  MakeBatchName("", 0x3E8, ".BAT", path, 12);
  EXPECT_STREQ(path, "DMX03E8.BAT");
  EXPECT_EQ(MakeBatchName("", 0x3E8, ".BAT", path, 11), 0);
  EXPECT_STREQ(path, "");
  EXPECT_EQ(Batch("SETUP.EXE", "C:\\DMX0000.BAT"), "");  // no directory to remove
}

TEST(RemovalBatch, DoublesEveryPercentAndRefusesATextOver1000Characters) {
  // Undoubled, %OS% would be expanded and %x% would vanish: the batch
  // would delete C:\aWindows_NT\setup.exe or C:\a\setup.exe instead.
  EXPECT_EQ(Batch("C:\\a%OS%\\x%\\set%%up.exe", "C:\\t%x%\\DMX0001.BAT"),
            ":Repeat\r\n"
            "del \"C:\\a%%OS%%\\x%%\\set%%%%up.exe\"\r\n"
            "if exist \"C:\\a%%OS%%\\x%%\\set%%%%up.exe\" goto Repeat\r\n"
            "rmdir \"C:\\a%%OS%%\\x%%\"\r\n"
            "del \"C:\\t%%x%%\\DMX0001.BAT\"\r\n");
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

TEST(RemovalScript, QuotesEveryPathForTheShell) {
  char text[1000];
  ASSERT_GT(ComposeRemovalScript(42, "/it's $HOME/`x`/setup", "/tmp/DMX0001.sh", text,
                                 sizeof text),
            0);
  EXPECT_STREQ(text,
               "#!/bin/sh\n"
               "while kill -0 42 2>/dev/null && [ -e /proc/42/exe ]; do sleep 1; done\n"
               "rm -f -- '/it'\\''s $HOME/`x`/setup'\n"
               "rmdir -- '/it'\\''s $HOME/`x`' 2>/dev/null\n"
               "rm -f -- '/tmp/DMX0001.sh'\n");
  EXPECT_EQ(ComposeRemovalScript(42, "/setup", "/t.sh", text, 40), 0);
  EXPECT_STREQ(text, "");
}

}  // namespace
