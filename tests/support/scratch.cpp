#include "support/scratch.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

ScratchDir::ScratchDir() {
  previous = fs::current_path();
  static unsigned counter = 0;
  std::random_device random;
  for (;;) {
    path = fs::temp_directory_path() /
           ("zqtest-" + std::to_string(random()) + "-" + std::to_string(++counter));
    if (fs::create_directory(path)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::current_path(previous, ignored);
  // Read-only entries would stop the removal.
  for (auto it = fs::recursive_directory_iterator(path, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink()) SetReadOnly(it->path(), false);
  }
  fs::remove_all(path, ignored);
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
