// Packing and unpacking whole trees (-a and -x of the Linux build) beside
// tar -czf and tar -xzf on the same trees, in the same run:
//   (a) 10,000 files of 1 to 8 KiB in 100 directories, cut from this
//       machine's C headers;
//   (b) at least 64 MB of this machine's own files: regular files of
//       /usr/include and of /usr/share, 32 MB of each, in sorted path order.
// Wall-clock and processor seconds (user + system, all threads, and for
// tar its gzip) side by side, each the best of three turns; -a packs on one
// worker thread per processor.
// Usage: tree_bench SCRATCH_DIR
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "archive/check.h"
#include "bench_support.h"
#include "ui/messages.h"

namespace fs = std::filesystem;

namespace {

struct TreeInfo {
  size_t files = 0;
  uint64_t bytes = 0;
};

std::vector<fs::path> SortedFiles(const fs::path& root) {
  std::vector<fs::path> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    if (it->is_regular_file(error) && !it->is_symlink(error)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

TreeInfo MakeSmallFiles(const fs::path& root) {
  std::string text;
  for (auto& path : SortedFiles("/usr/include")) {
    text += ReadAll(path);
    if (text.size() > (8u << 20)) break;
  }
  std::mt19937 random(9150);
  TreeInfo info;
  size_t offset = 0;
  for (int d = 0; d < 100; ++d) {
    fs::path dir = root / ("dir" + std::to_string(d));
    fs::create_directories(dir);
    for (int f = 0; f < 100; ++f) {
      size_t size = 1024 + random() % (7 * 1024 + 1);
      if (offset + size > text.size()) offset = 0;
      WriteAll(dir / ("file" + std::to_string(f) + ".txt"), text.substr(offset, size));
      offset += size;
      ++info.files;
      info.bytes += size;
    }
  }
  return info;
}

// A name that a Windows medium can hold, which -a packs: printable ASCII
// without \ : * ? " < > |, not ending in a dot or a blank (device names
// are rare enough here to be met by -a's own refusal as a failed run).
bool WindowsName(const fs::path& relative) {
  for (const auto& part : relative) {
    std::string name = part.string();
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    for (unsigned char c : name)
      if (c < 0x20 || c > 0x7e || strchr("\\:*?\"<>|", c)) return false;
  }
  return true;
}

TreeInfo CopyMachineFiles(const fs::path& root) {
  TreeInfo info;
  for (const char* source : {"/usr/include", "/usr/share"}) {
    uint64_t taken = 0;
    for (auto& path : SortedFiles(source)) {
      if (taken >= (32u << 20)) break;
      if (!WindowsName(fs::relative(path, source))) continue;
      std::error_code error;
      fs::path target = root / fs::path(source).filename() / fs::relative(path, source);
      fs::create_directories(target.parent_path(), error);
      if (!fs::copy_file(path, target, error)) continue;
      uint64_t size = fs::file_size(target, error);
      taken += size;
      ++info.files;
      info.bytes += size;
    }
  }
  return info;
}

bool SameTrees(const fs::path& a, const fs::path& b) {
  auto left = SortedFiles(a), right = SortedFiles(b);
  if (left.size() != right.size()) return false;
  for (size_t i = 0; i < left.size(); ++i) {
    if (fs::relative(left[i], a) != fs::relative(right[i], b)) return false;
    if (ReadAll(left[i]) != ReadAll(right[i])) return false;
  }
  return true;
}

// Processor seconds of this process (who: RUSAGE_SELF) or of its children.
double ProcessorSeconds(int who) {
  struct rusage usage;
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

struct Time {
  double wall;
  double processor;
};

const int ROUNDS = 3;  // best of, against the noise of a shared machine

Time Best(Time a, Time b) {
  return {std::min(a.wall, b.wall), std::min(a.processor, b.processor)};
}

template <typename Work>
Time Seconds(int who, Work work) {
  double processor = ProcessorSeconds(who);
  auto start = std::chrono::steady_clock::now();
  work();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          ProcessorSeconds(who) - processor};
}

void Row(const char* tree, const char* op, const TreeInfo& info, Time ours, Time tar,
         uint64_t ours_size, uint64_t tar_size) {
  double mb = info.bytes / 1e6;
  printf("%-4s %-3s %6zu %6.1f | %6.2f %6.2f %6.1f %10llu | %6.2f %6.2f %6.1f %10llu | %6.2f %6.2f\n",
         tree, op, info.files, mb, ours.wall, ours.processor, mb / ours.wall,
         (unsigned long long)ours_size, tar.wall, tar.processor, mb / tar.wall,
         (unsigned long long)tar_size, ours.wall / tar.wall, ours.processor / tar.processor);
}

bool Measure(const char* name, const fs::path& scratch, const fs::path& tree, const TreeInfo& info) {
  fs::path archive = scratch / (std::string(name) + ".zqa");
  fs::path tarball = scratch / (std::string(name) + ".tgz");
  fs::path ours_out = scratch / (std::string(name) + "-ours");
  fs::path tar_out = scratch / (std::string(name) + "-tar");
  std::string tar_pack = "tar -C '" + tree.string() + "' -czf '" + tarball.string() + "' .";
  std::string tar_unpack = "mkdir -p '" + tar_out.string() + "' && tar -C '" + tar_out.string() +
                           "' -xzf '" + tarball.string() + "'";
  int result = 0;
  Time pack = {1e30, 1e30}, unpack = pack, tar_c = pack, tar_x = pack;
  // Taking turns, so that a busy spell of the machine strikes both sides;
  // who goes first changes each round, since the first to unpack after the
  // outputs are removed meets the file system's cleaning up first.
  auto ours_pack = [&] {
    QuietStdout quiet;
    pack = Best(pack, Seconds(RUSAGE_SELF, [&] { result |= CreateArchive(archive.c_str(), tree.c_str()); }));
  };
  auto ours_unpack = [&] {
    QuietStdout quiet;
    unpack = Best(unpack, Seconds(RUSAGE_SELF, [&] { result |= ExtractArchive(archive.c_str(), ours_out.c_str()); }));
  };
  auto tars_pack = [&] { tar_c = Best(tar_c, Seconds(RUSAGE_CHILDREN, [&] { result |= system(tar_pack.c_str()); })); };
  auto tars_unpack = [&] {
    tar_x = Best(tar_x, Seconds(RUSAGE_CHILDREN, [&] { result |= system(tar_unpack.c_str()); }));
  };
  for (int round = 0; round < ROUNDS; round++) {
    fs::remove_all(ours_out);
    fs::remove_all(tar_out);
    if (round % 2 == 0) {
      ours_pack();
      tars_pack();
      ours_unpack();
      tars_unpack();
    } else {
      tars_pack();
      ours_pack();
      tars_unpack();
      ours_unpack();
    }
  }
  if (result != 0 || !SameTrees(tree, ours_out)) {
    fprintf(stderr, "tree %s: the round trip failed\n", name);
    return false;
  }
  Row(name, "-a", info, pack, tar_c, fs::file_size(archive), fs::file_size(tarball));
  Row(name, "-x", info, unpack, tar_x, fs::file_size(archive), fs::file_size(tarball));
  // What the archive's check costs: -x compares every block before it
  // writes, and -a reads the archive back to seal it, the same work.
  Time check = {1e30, 1e30};
  std::vector<uint8_t> buffer(1 << 20);
  for (int round = 0; round < ROUNDS; round++) {
    check = Best(check, Seconds(RUSAGE_SELF, [&] {
      FileHolder file;
      CheckRecord record = {};
      int64_t size = 0;
      if (OpenFileAt(nullptr, archive.c_str(), ACCESS_READ, &file.file) != 0 || SizeOfFile(file.file, &size) != 0 ||
          FindCheckRecord(file.file, size, &record) != CHECK_FOUND ||
          VerifyBlocks(file.file, &record, buffer.data(), buffer.size(), nullptr, nullptr) != 0)
        result = 1;
      FreeCheckRecord(&record);
    }));
  }
  if (result != 0) {
    fprintf(stderr, "tree %s: its archive's check failed\n", name);
    return false;
  }
  printf("     check of its archive: %.4f s, %.4f cpu s; %.1f%% of -x, %.1f%% of -a (wall)\n", check.wall,
         check.processor, 100 * check.wall / unpack.wall, 100 * check.wall / pack.wall);
  fs::remove_all(ours_out);
  fs::remove_all(tar_out);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: tree_bench SCRATCH_DIR\n");
    return 2;
  }
  settings.silent = 1;
  fs::path scratch = fs::absolute(argv[1]);
  fs::path small = scratch / "tree-a", machine = scratch / "tree-b";
  TreeInfo small_info = MakeSmallFiles(small);
  TreeInfo machine_info = CopyMachineFiles(machine);
  printf("tree op   files     MB |   ours    cpu   MB/s      bytes |    tar    cpu   MB/s      bytes "
         "| ours / tar\n");
  printf("                       |      s      s                   |      s      s                   "
         "|   wall    cpu\n");
  bool ok = Measure("a", scratch, small, small_info) && Measure("b", scratch, machine, machine_info);
  printf("(a) 10,000 files of 1-8 KiB in 100 directories; (b) /usr/include and /usr/share, "
         "32 MB each; tar with gzip -6; -a on %u threads; best of %d; round trips verified\n",
         std::thread::hardware_concurrency(), ROUNDS);
  return ok ? 0 : 1;
}
