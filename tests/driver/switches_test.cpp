#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/entry.h"
#include "support/recorder.h"

namespace {

std::vector<std::string> Split(const char* line) {
  char* slots[ARGUMENT_SLOTS];
  int count = SplitCommandLine(line, slots, ARGUMENT_SLOTS);
  return std::vector<std::string>(slots + 1, slots + count);
}

// Walks a line; returns the exit code, or -1000 when the walk ended without
// an action (the installation would run).
int Walk(const char* line) {
  char* slots[ARGUMENT_SLOTS];
  int count = SplitCommandLine(line, slots, ARGUMENT_SLOTS);
  int exit_code = 0;
  return WalkSwitches(slots, count, &exit_code) ? exit_code : -1000;
}

TEST(SplitCommandLine, NinthSlotKeepsTheRestOfTheLine) {
  auto words = Split("w1 w2 w3 w4 w5 w6 w7 w8 w9 w10  w11");
  ASSERT_EQ(words.size(), 9u);
  EXPECT_EQ(words[0], "w1");
  EXPECT_EQ(words[7], "w8");
  EXPECT_EQ(words[8], "w9 w10  w11");
}

TEST(SplitCommandLine, OnlyBlanksAndTabsSeparate) {
  EXPECT_EQ(Split("\"a b\" c"), (std::vector<std::string>{"\"a", "b\"", "c"}));
  EXPECT_EQ(Split(" \t -x \t\t  arch\tpath  "), (std::vector<std::string>{"-x", "arch", "path"}));
  EXPECT_EQ(Split("a\nb c\rd"), (std::vector<std::string>{"a\nb", "c\rd"}));
  EXPECT_TRUE(Split("").empty());
  EXPECT_TRUE(Split(" \t ").empty());
}

TEST(SplitCommandLine, SlotZeroIsAPlaceholderAndCountIncludesIt) {
  char* slots[ARGUMENT_SLOTS];
  EXPECT_EQ(SplitCommandLine("-v -s", slots, ARGUMENT_SLOTS), 3);
  EXPECT_NE(slots[0], nullptr);
}

TEST(WalkSwitches, CaseAndPrefixDoNotMatter) {
  Recorder recorder;
  EXPECT_EQ(Walk("-TR 3"), 3);
  EXPECT_EQ(Walk("/tr 4"), 4);
  // -A and /a reach the archive action with their values as typed.
  EXPECT_EQ(Walk("-A X no-such-Dir"), 1);
  EXPECT_EQ(recorder.last(), "Path no-such-Dir invalid.");
  EXPECT_EQ(Walk("/a x2 no-such-dir2"), 1);
  EXPECT_EQ(recorder.last(), "Path no-such-dir2 invalid.");
}

TEST(WalkSwitches, UnsupportedArgumentsEndWithOne) {
  Recorder recorder;
  EXPECT_EQ(Walk("-Q"), 1);
  EXPECT_EQ(recorder.last(), "Unsupported argument: -q");
  EXPECT_EQ(Walk("-"), 1);
  EXPECT_EQ(recorder.last(), "Unsupported argument: -");
  EXPECT_EQ(Walk("/"), 1);
  EXPECT_EQ(recorder.last(), "Unsupported argument: /");
  EXPECT_EQ(Walk("-trx 5"), 1);
  // A stray word ends the walk before any action behind it.
  EXPECT_EQ(Walk("stray -tr 5"), 1);
  EXPECT_EQ(recorder.last(), "Unsupported argument: stray");
}

TEST(WalkSwitches, ExitCodeSwitchSubtractsTheDigitZero) {
  Recorder recorder;
  EXPECT_EQ(Walk("-tr 7"), 7);
  EXPECT_EQ(recorder.last(), "About to return exit code 7");
  EXPECT_EQ(Walk("-tr A"), 17);
  EXPECT_EQ(Walk("-tr 0"), 0);
}

TEST(WalkSwitches, SilentAndSetupArguments) {
  Recorder recorder;
  EXPECT_EQ(Walk("-s -is /q"), -1000);
  EXPECT_STREQ(settings.setup_arguments, " -s /q");
  EXPECT_EQ(settings.show_command, SHOW_HIDDEN);
  EXPECT_EQ(settings.silent, 1);
  EXPECT_TRUE(recorder.messages().empty());
}

TEST(WalkSwitches, WordsAfterIsAreNotSwitches) {
  Recorder recorder;
  EXPECT_EQ(Walk("-is -s -TR"), -1000);
  EXPECT_STREQ(settings.setup_arguments, " -s -TR");  // taken as typed
  EXPECT_EQ(settings.silent, 0);
  EXPECT_EQ(settings.show_command, SHOW_NORMAL);
}

TEST(WalkSwitches, IsLastLeavesTheArgumentsAndRunsTheInstallation) {
  Recorder recorder;
  EXPECT_EQ(Walk("-v -is"), -1000);
  EXPECT_STREQ(settings.setup_arguments, "");
  EXPECT_EQ(settings.verbose, 1);
  EXPECT_EQ(Walk(""), -1000);
}

TEST(WalkSwitches, SetupArgumentsThatWouldOverflowAreRefused) {
  Recorder recorder;
  std::string fits = "-is";
  for (int i = 0; i < 6; ++i) fits += " " + std::string(40, 'a' + i);
  fits += " " + std::string(12, 'z');  // 6 x 41 + 13 = 259 characters
  EXPECT_EQ(Walk(fits.c_str()), -1000);
  EXPECT_EQ(strlen(settings.setup_arguments), 259u);

  settings.setup_arguments[0] = '\0';
  std::string too_long = fits + "z";
  EXPECT_EQ(Walk(too_long.c_str()), 1);
  EXPECT_NE(recorder.last().find("too long"), std::string::npos);
}

TEST(WalkSwitches, MissingValues) {
  Recorder recorder;
  EXPECT_EQ(Walk("-a arch"), 1);
  EXPECT_EQ(recorder.last(), USAGE_TEXT);
  EXPECT_EQ(Walk("-x"), 1);
  EXPECT_EQ(recorder.last(), USAGE_TEXT);
  EXPECT_EQ(Walk("-c"), 1);
  EXPECT_EQ(Walk("-tr"), 1);
  EXPECT_EQ(Walk("-tl"), 1);
  EXPECT_EQ(recorder.messages().size(), 5u);
  recorder.Messages().clear();
  EXPECT_EQ(Walk("-dt"), 1);
  EXPECT_TRUE(recorder.messages().empty());
}

TEST(WalkSwitches, UsageBoxIgnoresSilentMode) {
  Recorder recorder;
  EXPECT_EQ(Walk("-s -?"), 0);
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.last(), USAGE_TEXT);
}

TEST(WalkSwitches, SwitchesAfterAnActionAreNeverReached) {
  Recorder recorder;
  EXPECT_EQ(Walk("-tr 4 -v"), 4);
  EXPECT_EQ(settings.verbose, 0);
  EXPECT_EQ(Walk("-tr 4 -q"), 4);
}

TEST(WalkSwitches, DeleteTreeOfAMissingDirectory) {
  Recorder recorder;
  EXPECT_EQ(Walk("-dt no-such-directory-here"), 1);
  EXPECT_EQ(recorder.last(), "Directory no-such-directory-here not found.");
}

TEST(UsageText, HasItsLinesInOrder) {
  std::string text = USAGE_TEXT;
  EXPECT_EQ(text.rfind("\nZQ K9150 keyboard driver setup.\n\nUsage:\n\n    setup [switches]\n", 0), 0u);
  EXPECT_NE(text.find("  -c name\t\tCut a file in pieces that fit on floppys.\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

}  // namespace
