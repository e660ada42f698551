// Scratch directories and small file helpers for the unit tests.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

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
