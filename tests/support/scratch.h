// Scratch directories and small file helpers for the unit tests.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// A fresh name below the temporary directory, of the kind given and of this
// process, so that what a killed run left there is known as such: the first
// call of a process removes the scratch of processes that are gone, and
// bounds the files it may write (POSIX) to 5 GiB, so that a runaway output
// cannot fill the disk.
fs::path NewScratchPath(const std::string& kind);

// A fresh directory below the temporary directory; the current directory is
// restored and the tree removed when it goes.
struct ScratchDir {
  fs::path path;
  fs::path previous;
  ScratchDir();
  ~ScratchDir();
  std::string str() const { return path.string(); }
  fs::path operator/(const std::string& name) const { return path / name; }
};

void WriteBytes(const fs::path& path, const std::string& bytes);
std::string ReadBytes(const fs::path& path);
std::string CurrentDir();

// Platform attributes: hidden, system and read-only.
void SetHidden(const fs::path& path);
void SetSystem(const fs::path& path);
void SetReadOnly(const fs::path& path, bool read_only);

// Deterministic bytes of several kinds for round trips.
std::string RandomBytes(size_t size, unsigned seed);
std::string TextBytes(size_t size);
// "5a 51 ...": bytes in hex, for comparing formats.
std::string Hex(const std::string& bytes);
