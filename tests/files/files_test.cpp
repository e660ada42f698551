// Directory scanning, copy and append, path resolution and tree removal,
// where the end-to-end tests cannot look: attribute masks, DOS times, error
// reports, the current directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#ifdef _WIN32
#include <windows.h>
#endif

#include "files/deltree.h"
#include "files/filecopy.h"
#include "files/output.h"
#include "os/dirscan.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/platform.h"
#include "support/recorder.h"

namespace {

#ifdef _WIN32
const bool kWindows = true;
const char* const kHidden = "hidden.txt";
#else
const bool kWindows = false;
const char* const kHidden = ".hidden";
#endif

// name -> attributes of everything a listing delivers.
std::map<std::string, int> List(const std::string& pattern, uint16_t mask) {
  std::map<std::string, int> found;
  DirSearch search;
  for (int r = FindFirstEntry(pattern.c_str(), mask, &search); r == 0; r = FindNextEntry(&search)) {
    found[search.entry.name] = search.entry.attributes;
    free(search.entry.name);
  }
  EXPECT_TRUE(FindEnded(LastSystemError()));
  EXPECT_EQ(CloseSearch(&search), 0);
  return found;
}

TEST(DirScan, MasksDeliverWhatTheyAdmitWithTheirAttributes) {
  ScratchDir dir;
  WriteBytes(dir / "plain.txt", "p");
  WriteBytes(dir / "readonly.txt", "r");
  SetReadOnly(dir / "readonly.txt", true);
  WriteBytes(dir / kHidden, "h");
  SetHidden(dir / kHidden);
  fs::create_directory(dir / "sub");
  WriteBytes(dir / "sub" / "inner.bin", "12345");
  WriteBytes(dir / "system.sys", "s");
  SetSystem(dir / "system.sys");
  fs::current_path(dir.path);
  const int A = ATTR_ARCHIVE, D = ATTR_DIRECTORY, H = ATTR_HIDDEN, R = ATTR_READONLY, S = kWindows ? ATTR_SYSTEM : 0;
  const std::pair<std::pair<const char*, int>, std::map<std::string, int>> cases[] = {
      {{"*.*", 0x16}, {{".", D}, {"..", D}, {"sub", D}, {"plain.txt", A}, {"readonly.txt", A | R},
                       {kHidden, A | H}, {"system.sys", A | S}}},
      {{"*.*", 0x06}, {{"plain.txt", A}, {"readonly.txt", A | R}, {kHidden, A | H}, {"system.sys", A | S}}},
      {{"*.*", 0x00}, {{"plain.txt", A}, {"readonly.txt", A | R}}},
      {{"p*.t?t", 0x16}, {{"plain.txt", A}}},
      {{"sub/*.*", 0x06}, {{"inner.bin", A}}}};
  for (auto& [search, listing] : cases) {
    std::map<std::string, int> expected = listing;
    if (!kWindows && search.second == 0x00) expected["system.sys"] = A;
    EXPECT_EQ(List(search.first, search.second), expected) << search.first << " " << search.second;
  }
  DirSearch search;
  // Ends: no volume labels here; nothing matched, with the platform's own
  // "not found"; and a directory that is not there.
  EXPECT_EQ(FindFirstEntry("*.*", 0x08, &search), -1);
  EXPECT_EQ(LastSystemError(), FindExhausted);
  EXPECT_EQ(FindFirstEntry("nothing-like-this*", 0x16, &search), -1);
  EXPECT_NE(LastSystemError(), FindExhausted);
  EXPECT_TRUE(FindEnded(LastSystemError()));
  EXPECT_EQ(CloseSearch(&search), 0);
  EXPECT_EQ(FindFirstEntry("missing-dir/*.*", 0x16, &search), -1);
  EXPECT_EQ(CloseSearch(&search), 0);
}

TEST(FileCopy, CopiesAndReportsTheSideThatFailed) {
  Recorder recorder;
  ScratchDir dir;
  fs::current_path(dir.path);
  for (size_t size : {0u, 1u, 16384u, 16385u, 40000u}) {
    std::string bytes = RandomBytes(size, (unsigned)size);
    WriteBytes("source", bytes);
    WriteBytes("copy", "old contents that must go");
    EXPECT_EQ(FileCopy("source", "copy"), 0);
    EXPECT_EQ(ReadBytes("copy"), bytes) << size;
  }
  EXPECT_EQ(FileCopy("source", "new"), 0);  // a missing destination is made
  EXPECT_TRUE(recorder.messages().empty());

  // The text is not formatted twice: the file name keeps its '%'.
  EXPECT_EQ(FileCopy("missing%s%d.001", "new"), 1);
  EXPECT_EQ(recorder.last().find("Error 2: "), 0u);
  EXPECT_NE(recorder.last().find("\nCopy: Error reading from file missing%s%d.001.\n"), std::string::npos);
  EXPECT_EQ(FileCopy("new", "no-dir/new"), 2);
  EXPECT_NE(recorder.last().find("\nCopy: Error writing to file no-dir/new.\n"), std::string::npos);
  EXPECT_EQ(FileCopy("missing", "new"), 1);
  EXPECT_EQ(ReadBytes("new").size(), 40000u);  // an unreadable source leaves it alone
}

// An unfinished output that cannot be removed is named, and the code of
// the failure that led there stays for its caller's report.
TEST(Output, AnUnfinishedFileThatStaysIsNamed) {
  ScratchDir dir;
  Recorder recorder;
  std::string path = (dir / "out").string();
  OutputFile output;
  ASSERT_EQ(CreateOutput(path.c_str(), &output), 0);
  SetSystemError(5);
  fault_hook = [](int call) { return call == CALL_DELETE ? 1 : 0; };
  AbandonOutput(&output);
  fault_hook = nullptr;
  EXPECT_EQ(LastSystemError(), 5);
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.last().find("Cannot delete the unfinished " + path + ".part0. "), 0u);
  EXPECT_TRUE(fs::exists(path + ".part0"));
}

// The resolved path; "too long" where it does not fit, which leaves the
// buffer as it was; "" where it does not resolve.
std::string Resolve(const std::string& path, int capacity = PATH_SIZE) {
  char out[PATH_SIZE + 1];
  memset(out, 'x', sizeof out);
  strcpy(out, "keep");
  int result = FullLongPath(path.c_str(), out, capacity);
  EXPECT_EQ(out[capacity], 'x') << "written beyond the room given";
  if (result == 0) return out;
  if (LastSystemError() != NameTooLongCode()) return "";
  EXPECT_STREQ(out, "keep");
  return "too long";
}

TEST(FullLongPath, ResolvesAgainstTheCurrentDirectory) {
  ScratchDir dir;
  fs::create_directories(dir / "Mixed Case" / "inner");
  fs::current_path(dir / "Mixed Case" / "inner");
  std::string here = fs::current_path().string();
  EXPECT_EQ(Resolve("."), here);
  EXPECT_EQ(Resolve("../inner/./"), here);
  EXPECT_EQ(fs::path(Resolve("..")), dir / "Mixed Case");
  for (const char* missing : {"missing.txt", "missing/deeper", "*"}) EXPECT_EQ(Resolve(missing), "") << missing;
  EXPECT_EQ(Resolve(".", 8), "too long");
  EXPECT_EQ(Resolve(".", (int)here.size() + 1), here);  // just room enough
#ifdef _WIN32
  EXPECT_EQ(Resolve("C:\\"), "C:\\");
  std::string long_form = (dir / "Long Directory Name.extension").string();
  WriteBytes(long_form, "x");
  char short_form[PATH_SIZE];
  ASSERT_GT(GetShortPathNameA(long_form.c_str(), short_form, PATH_SIZE), 0u);
  EXPECT_EQ(Resolve(short_form), Resolve(long_form));
  EXPECT_NE(Resolve(short_form).find("\\Long Directory Name.extension"), std::string::npos);
#endif
}

TEST(Directory, HoldsOnlyRealDirectoriesBelowTheTopAndNamesTheirPaths) {
  ScratchDir dir;
  fs::create_directories(dir / "a" / "b");
  WriteBytes(dir / "file", "f");
  std::error_code no_links_here;
  fs::create_directory_symlink(dir / "a", dir / "link", no_links_here);
  Directory top, a, b, other;
  ASSERT_EQ(OpenDirectory(dir.str().c_str(), &top), 0);
  ASSERT_EQ(OpenSubdirectory(&top, "a", &a), 0);
  ASSERT_EQ(OpenSubdirectory(&a, "b", &b), 0);
  char path[PATH_SIZE];
  ASSERT_EQ(JoinPath(&b, "x", path, PATH_SIZE), 0);
  EXPECT_EQ(fs::path(path), dir / "a" / "b" / "x");
  EXPECT_EQ(JoinPath(&b, "x", path, 8), -1);  // no room, no path
  JoinPathBelow(&b, "x", path, PATH_SIZE);
  EXPECT_EQ(fs::path(path), fs::path("a") / "b" / "x");
  for (const char* name : {"file", "link"}) {
    if (std::string(name) == "link" && no_links_here) continue;
    EXPECT_EQ(OpenSubdirectory(&top, name, &other), -1) << name;
    EXPECT_EQ(LastSystemError(), ERROR_NOT_OWN_DIRECTORY) << name;
  }
  EXPECT_EQ(OpenSubdirectory(&top, "missing", &other), -1);
  if (!no_links_here) {
    // At the top a link is the user's choice, unless it must be a directory of its own.
    EXPECT_EQ(OpenDirectory((dir / "link").string().c_str(), &other), 0);
    CloseDirectory(&other);
    EXPECT_EQ(OpenOwnDirectory((dir / "link").string().c_str(), &other), -1);
    EXPECT_EQ(LastSystemError(), ERROR_NOT_OWN_DIRECTORY);
  }
  CloseDirectory(&b);
  CloseDirectory(&a);
  CloseDirectory(&top);
#ifdef _WIN32
  char small[8] = "";
  EXPECT_EQ(SystemFilePath("cmd.exe", small, sizeof small), -1);  // no room, no path
  ASSERT_EQ(SystemFilePath("cmd.exe", path, PATH_SIZE), 0);
  EXPECT_NE(std::string(path).find("\\cmd.exe"), std::string::npos);
#endif
}

TEST(DeleteTree, RemovesATreeNeverFollowsALinkAndRestoresTheCurrentDirectory) {
  Recorder recorder;
  ScratchDir dir;
  fs::create_directories(dir / "tree" / "a" / "b");
  WriteBytes(dir / "tree" / "a" / "one", "1");
  SetHidden(dir / "tree" / "a" / "one");
  SetSystem(dir / "tree" / "a" / "one");
  SetHidden(dir / "tree" / "a" / "b");
  fs::create_directories(dir / "outside");
  WriteBytes(dir / "outside" / "keep.txt", "keep");
  std::error_code no_links_here;
  fs::create_directory_symlink(dir / "outside", dir / "tree" / "a" / "link", no_links_here);
  fs::current_path(dir.path);
  settings.verbose = 1;
  EXPECT_EQ(DeleteTree("tree"), 0);
  EXPECT_EQ(CurrentDir(), dir.str());
  EXPECT_FALSE(fs::exists(dir / "tree"));
  EXPECT_NE(std::find(recorder.messages().begin(), recorder.messages().end(), "Deleting a" + std::string(1, PATH_SEPARATOR) + "one"), recorder.messages().end());
  EXPECT_EQ(DeleteTree("tree"), 1);  // gone: it does not resolve
  EXPECT_EQ(ReadBytes(dir / "outside" / "keep.txt"), "keep");
}

}  // namespace
