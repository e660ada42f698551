#include "support/scratch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const char* const KINDS[] = {"zqtest-", "codec-test-"};

#ifdef _WIN32
unsigned long ThisProcess() { return GetCurrentProcessId(); }
bool Alive(unsigned long id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}
void BoundFiles() {}
#else
unsigned long ThisProcess() { return (unsigned long)getpid(); }
bool Alive(unsigned long id) { return kill((pid_t)id, 0) == 0 || errno == EPERM; }
// A write past the bound fails (EFBIG) instead of ending the test program.
void BoundFiles() {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {5ull << 30, 5ull << 30};
  setrlimit(RLIMIT_FSIZE, &limit);
}
#endif

void Remove(const fs::path& path) {
  std::error_code ignored;
  // Read-only entries would stop the removal.
  for (auto it = fs::recursive_directory_iterator(path, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink()) SetReadOnly(it->path(), false);
  }
  fs::remove_all(path, ignored);
}

// Scratch of processes that are gone: "kind-p<process>-...".
void RemoveLeftovers() {
  std::error_code ignored;
  for (auto& entry : fs::directory_iterator(fs::temp_directory_path(), ignored)) {
    std::string name = entry.path().filename().string();
    for (const char* kind : KINDS) {
      if (name.rfind(kind, 0) != 0 || name[strlen(kind)] != 'p') continue;
      unsigned long id = strtoul(name.c_str() + strlen(kind) + 1, nullptr, 10);
      if (id != 0 && id != ThisProcess() && !Alive(id)) Remove(entry.path());
    }
  }
}

}  // namespace

fs::path NewScratchPath(const std::string& kind) {
  static bool first = true;
  if (first) {
    first = false;
    BoundFiles();
    RemoveLeftovers();
  }
  static unsigned counter = 0;
  return fs::temp_directory_path() / (kind + "-p" + std::to_string(ThisProcess()) + "-" + std::to_string(++counter) +
                                      "-" + std::to_string(std::random_device()()));
}

ScratchDir::ScratchDir() {
  previous = fs::current_path();
  do {
    path = NewScratchPath("zqtest");
  } while (!fs::create_directory(path));
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::current_path(previous, ignored);
  Remove(path);
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string CurrentDir() { return fs::current_path().string(); }

#ifdef _WIN32
static void AddAttribute(const fs::path& path, DWORD bit, bool on) {
  DWORD attributes = GetFileAttributesA(path.string().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  attributes = on ? (attributes | bit) : (attributes & ~bit);
  SetFileAttributesA(path.string().c_str(), attributes);
}
void SetHidden(const fs::path& path) { AddAttribute(path, FILE_ATTRIBUTE_HIDDEN, true); }
void SetSystem(const fs::path& path) { AddAttribute(path, FILE_ATTRIBUTE_SYSTEM, true); }
void SetReadOnly(const fs::path& path, bool read_only) {
  AddAttribute(path, FILE_ATTRIBUTE_READONLY, read_only);
}
#else
void SetHidden(const fs::path&) {}
void SetSystem(const fs::path&) {}
void SetReadOnly(const fs::path& path, bool read_only) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return;
  chmod(path.c_str(), read_only ? (info.st_mode & ~0222) : (info.st_mode | S_IWUSR));
}
#endif

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& c : bytes) c = (char)(random() & 0xff);
  return bytes;
}

std::string TextBytes(size_t size) {
  static const char* words[] = {"keyboard ", "driver ", "setup ", "floppy ", "archive ",
                                "the ", "a ", "of ", "ZQ ", "K9150\n", "install ", "window "};
  std::mt19937 random(7);
  std::string text;
  while (text.size() < size) text += words[random() % 12];
  text.resize(size);
  return text;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) hex += (hex.empty() ? "" : " ") + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
  return hex;
}
