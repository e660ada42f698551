#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/recorder.h"
#include "ui/messages.h"

namespace {

int Cancel(const char*) { return 2; }

TEST(MessagePrintf, FormatsLikePrintfAndCutsAt1023) {
  Recorder recorder;
  EXPECT_EQ(MessagePrintf("%s %d %u %x %X %c %5d|%-3s|", "name", -12, 7u, 255, 255, 'q', 42, "a"), 29);
  EXPECT_EQ(recorder.last(), "name -12 7 ff FF q    42|a  |");

  std::string long_text(2000, 'x');
  EXPECT_EQ(MessagePrintf("%s", long_text.c_str()), 1023);
  EXPECT_EQ(recorder.last(), std::string(1023, 'x'));
}

TEST(MessagePrintf, SilentModeShowsNothingAndNeverEnds) {
  Recorder recorder;
  settings.silent = 1;
  message_hook = Cancel;  // would end the process if it were asked
  EXPECT_EQ(MessagePrintf("quiet %d", 1), 7);
  StatusWindow window = StatusPrintf(nullptr, "Please wait...");
  EXPECT_EQ(window, nullptr);
  EXPECT_EQ(StatusClose(&window), 0);
}

TEST(MessagePrintfDeathTest, CancelEndsTheProcessWithOne) {
  EXPECT_EXIT(
      {
        message_hook = Cancel;
        MessagePrintf("Done. %s split in %d pieces.", "x", 0);
      },
      ::testing::ExitedWithCode(1), "");
}

TEST(ErrorPrintf, PutsTheLastErrorFirstAndDoesNotFormatTwice) {
  Recorder recorder;
  FILE* missing = fopen("no-such-file.bin", "rb");  // leaves error code 2
  ASSERT_EQ(missing, nullptr);
  ErrorPrintf("\nCopy: Error reading from file %s.\n", "50%s%d.txt");
  EXPECT_EQ(recorder.last(), "Error 2: \nCopy: Error reading from file 50%s%d.txt.\n");

  std::string long_name(2000, 'n');
  ErrorPrintf("%s", long_name.c_str());
  EXPECT_EQ(recorder.last().size(), 1023u);
}

TEST(StatusClose, NullHandleStaysNull) {
  Recorder recorder;
  StatusWindow window = nullptr;
  EXPECT_EQ(StatusClose(&window), 0);
  EXPECT_EQ(window, nullptr);
}

}  // namespace
