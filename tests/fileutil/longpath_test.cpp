#include <gtest/gtest.h>

#include <cstring>
#ifdef _WIN32
#include <windows.h>
#endif

#include "fileutil/paths.h"
#include "fileutil/longpath.h"
#include "support/scratch.h"

namespace {

std::string Resolve(const std::string& path) {
  char out[PATH_SIZE] = "";
  int length = FullLongPath(path.c_str(), out, PATH_SIZE);
  EXPECT_EQ(length, length ? (int)strlen(out) : 0);
  return out;
}

TEST(FullLongPath, RelativeFormsResolveAgainstTheCurrentDirectory) {
  ScratchDir dir;
  fs::create_directories(dir / "Mixed Case" / "inner");
  fs::current_path(dir / "Mixed Case" / "inner");
  std::string here = Resolve(".");
  EXPECT_EQ(fs::path(here), fs::current_path());
  EXPECT_EQ(fs::path(Resolve("..")), dir / "Mixed Case");
  EXPECT_EQ(fs::path(Resolve("../inner/./")), fs::current_path());
}

TEST(FullLongPath, MissingComponentsDoNotResolve) {
  ScratchDir dir;
  fs::current_path(dir.path);
  EXPECT_EQ(Resolve("missing.txt"), "");
  EXPECT_EQ(Resolve("missing/deeper"), "");
  EXPECT_EQ(Resolve("*"), "");
}

TEST(FullLongPath, TooSmallABufferIsLeftUntouched) {
  ScratchDir dir;
  char out[8] = "keep";
  int length = FullLongPath(dir.str().c_str(), out, sizeof out);
  EXPECT_GE(length, (int)sizeof out);
  EXPECT_STREQ(out, "keep");
}

#ifdef _WIN32
TEST(FullLongPath, ShortNamesBecomeLongNamesAndRootsStay) {
  char out[PATH_SIZE];
  ASSERT_EQ(FullLongPath("C:\\", out, PATH_SIZE), 3);
  EXPECT_STREQ(out, "C:\\");
  ScratchDir dir;
  fs::create_directories(dir / "Long Directory Name");
  WriteBytes(dir / "Long Directory Name" / "file.extension", "x");
  char short_form[PATH_SIZE];
  std::string long_form = (dir / "Long Directory Name" / "file.extension").string();
  ASSERT_GT(GetShortPathNameA(long_form.c_str(), short_form, PATH_SIZE), 0u);
  char full_long[PATH_SIZE];
  ASSERT_GT(FullLongPath(long_form.c_str(), full_long, PATH_SIZE), 0);
  EXPECT_STREQ(Resolve(short_form).c_str(), full_long);
  EXPECT_NE(std::string(full_long).find("\\Long Directory Name\\file.extension"), std::string::npos);
}
#endif

}  // namespace
