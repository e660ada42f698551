// Packing, unpacking and comparing trees for the archive tests.
#pragma once

#include <map>
#include <string>

#include "archive/archive.h"
#include "support/scratch.h"

// Relative path -> contents for files, "<dir>" for directories.
inline std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto& item : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(item.path(), root).generic_string();
    tree[relative] = item.is_directory() ? "<dir>" : ReadBytes(item.path());
  }
  return tree;
}

inline int Pack(const fs::path& archive, const fs::path& tree) {
  return CreateArchive(archive.string().c_str(), tree.string().c_str());
}

inline int Unpack(const fs::path& archive, const fs::path& target) {
  return ExtractArchive(archive.string().c_str(), target.string().c_str());
}

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}
