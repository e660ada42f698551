// Codec benchmark: compresses and decompresses three 16 MiB inputs built
// from this machine's own files (C headers, programs, random bytes) with our
// codec and with gzip -6 / gzip -d, side by side, checks every round trip,
// and prints one table. Usage: codec_bench [SCRATCH_DIR]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "codec/codec.h"
#include "codec/encoder.h"

namespace fs = std::filesystem;

namespace {

const size_t INPUT_SIZE = 16u << 20;
const int ROUNDS = 3;  // best of, against the noise of a shared machine

// Up to INPUT_SIZE bytes of the files below root that pass keep, taken whole
// in sorted path order.
std::string Gather(const fs::path& root, bool recursive, const std::function<bool(const fs::path&)>& keep) {
  std::vector<fs::path> paths;
  std::error_code error;
  auto take = [&](const fs::directory_entry& entry) {
    std::error_code ignored;
    if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored) && keep(entry.path())) {
      paths.push_back(entry.path());
    }
  };
  if (recursive) {
    for (const auto& entry : fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error)) take(entry);
  } else {
    for (const auto& entry : fs::directory_iterator(root, error)) take(entry);
  }
  std::sort(paths.begin(), paths.end());
  std::string data;
  for (const fs::path& path : paths) {
    std::ifstream in(path, std::ios::binary);
    data.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (data.size() >= INPUT_SIZE) break;
  }
  if (data.size() > INPUT_SIZE) data.resize(INPUT_SIZE);
  return data;
}

std::string RandomInput() {
  std::mt19937_64 generator(20240601);
  std::string data(INPUT_SIZE, '\0');
  for (size_t i = 0; i < data.size(); i += 8) {
    uint64_t word = generator();
    for (int k = 0; k < 8; k++) data[i + k] = static_cast<char>(word >> (8 * k));
  }
  return data;
}

void WriteFile(const fs::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Processor seconds (user and system) of this process and its children so
// far: on a machine shared with other work they measure the work itself,
// where the clock on the wall would add the waits for a turn.
double ProcessorSeconds() {
  double seconds = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    struct rusage usage;
    getrusage(who, &usage);
    seconds += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
    seconds += usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  }
  return seconds;
}

// Processor seconds of the fastest of ROUNDS runs.
double BestTime(const std::function<void()>& run) {
  double best = 1e30;
  for (int round = 0; round < ROUNDS; round++) {
    double start = ProcessorSeconds();
    run();
    best = std::min(best, ProcessorSeconds() - start);
  }
  return best;
}

void CodecFile(const fs::path& from, const fs::path& to, bool compress) {
  FILE* input = fopen(from.c_str(), "rb");
  FILE* output = fopen(to.c_str(), "wb");
  if (input == nullptr || output == nullptr) {
    fprintf(stderr, "codec_bench: cannot open %s or %s\n", from.c_str(), to.c_str());
    exit(1);
  }
  int result;
  {
    QuietStdout quiet;
    WindowCarry carry{};
    result = compress ? CompressStream(input, output, &carry) : DecompressStream(input, output, &carry);
  }
  fclose(input);
  if (fclose(output) != 0 || result != 0) {
    fprintf(stderr, "codec_bench: %s of %s failed (%d)\n", compress ? "compression" : "decompression",
            from.c_str(), result);
    exit(1);
  }
}

void Shell(const std::string& command) {
  if (system(command.c_str()) != 0) {
    fprintf(stderr, "codec_bench: failed: %s\n", command.c_str());
    exit(1);
  }
}

double MegabytesPerSecond(size_t bytes, double seconds) { return static_cast<double>(bytes) / 1e6 / seconds; }

// A source over bytes in memory.
struct MemorySource {
  ByteSource source;
  explicit MemorySource(const std::string& bytes) {
    source.next = reinterpret_cast<const uint8_t*>(bytes.data());
    source.end = source.next + bytes.size();
    source.abandoned = false;
    source.fill = [](ByteSource*) { return EOF; };
  }
};

int AppendTo(void* context, const uint8_t* bytes, size_t size) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), size);
  return 0;
}

// The data coded as pieces streams of about piece bytes each, one after the
// other as in an archive.
std::string Encode(const std::string& data, size_t piece) {
  Encoder* encoder = NewEncoder(malloc);
  WindowCarry carry{};
  std::string coded;
  for (size_t at = 0; at < data.size(); at += piece) {
    std::string part = data.substr(at, piece);
    MemorySource source(part);
    uint32_t coded_size;
    for (int k = 0; k < 4; k++) coded += static_cast<char>(part.size() >> (8 * k));  // the size header
    EncodeStream(encoder, &source.source, static_cast<uint32_t>(part.size()), &carry, AppendTo, &coded, &coded_size);
  }
  free(encoder);
  return coded;
}

// Decodes every stream of coded with one decoder: the bytes decoded.
std::string DecodeAll(const std::string& coded) {
  Decoder* decoder = NewDecoder(malloc);
  WindowCarry carry{};
  std::string decoded;
  MemorySource source(coded);
  uint64_t size;
  while (source.source.next != source.source.end &&
         DecompressMember(decoder, &source.source, AppendTo, &decoded, &carry, &size) == DECODE_OK) {
  }
  free(decoder);
  return decoded;
}

// What starting a stream costs: the text as 10,000 short members, as an
// archive of small files holds them, against one stream of the same bytes.
bool MeasureShortMembers(const std::string& text) {
  const size_t members = 10000;
  std::string one = Encode(text, text.size()), many = Encode(text, (text.size() + members - 1) / members);
  std::string decoded_one, decoded_many;
  double seconds_one = BestTime([&] { decoded_one = DecodeAll(one); });
  double seconds_many = BestTime([&] { decoded_many = DecodeAll(many); });
  bool ok = decoded_one == text && decoded_many == text;
  printf("short members: the text as %zu streams of %zu bytes decodes at %.1f MB/s, as one stream at %.1f MB/s:\n"
         "  %.1f microseconds a member beyond the bytes; coded %zu bytes against %zu\n",
         members, text.size() / members, MegabytesPerSecond(text.size(), seconds_many),
         MegabytesPerSecond(text.size(), seconds_one), (seconds_many - seconds_one) / members * 1e6, many.size(),
         one.size());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path scratch = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("codec-bench-" + std::to_string(getpid()));
  fs::create_directories(scratch);

  struct Input {
    const char* name;
    std::string data;
  };
  std::vector<Input> inputs;
  inputs.push_back({"text", Gather("/usr/include", true, [](const fs::path& p) { return p.extension() == ".h"; })});
  inputs.push_back({"binary", Gather("/usr/bin", false, [](const fs::path&) { return true; })});
  inputs.push_back({"random", RandomInput()});

  printf("%-7s %9s | %9s %6s %8s %8s | %9s %6s %8s %8s | %6s %6s\n", "input", "size", "ours", "ratio",
         "comp", "decomp", "gzip -6", "ratio", "comp", "decomp", "comp", "decomp");
  printf("%-7s %9s | %9s %6s %8s %8s | %9s %6s %8s %8s | %13s\n", "", "bytes", "bytes", "", "MB/s",
         "MB/s", "bytes", "", "MB/s", "MB/s", "ours / gzip");
  bool all_ok = true;
  for (const Input& input : inputs) {
    if (input.data.size() < INPUT_SIZE) {
      fprintf(stderr, "codec_bench: only %zu bytes of %s input\n", input.data.size(), input.name);
      all_ok = false;
    }
    fs::path original = scratch / (std::string(input.name) + ".in");
    fs::path coded = scratch / (std::string(input.name) + ".zq");
    fs::path decoded = scratch / (std::string(input.name) + ".out");
    fs::path gzipped = scratch / (std::string(input.name) + ".gz");
    fs::path gunzipped = scratch / (std::string(input.name) + ".gunzip");
    WriteFile(original, input.data);

    double ours_compress = BestTime([&] { CodecFile(original, coded, true); });
    double ours_decompress = BestTime([&] { CodecFile(coded, decoded, false); });
    double gzip_compress = BestTime([&] { Shell("gzip -6 -c '" + original.string() + "' > '" + gzipped.string() + "'"); });
    double gzip_decompress = BestTime([&] { Shell("gzip -d -c '" + gzipped.string() + "' > '" + gunzipped.string() + "'"); });

    bool ok = ReadFile(decoded) == input.data && ReadFile(gunzipped) == input.data;
    if (!ok) {
      fprintf(stderr, "codec_bench: the %s round trip differs\n", input.name);
      all_ok = false;
    }
    size_t size = input.data.size();
    size_t ours_size = fs::file_size(coded), gzip_size = fs::file_size(gzipped);
    double oc = MegabytesPerSecond(size, ours_compress), od = MegabytesPerSecond(size, ours_decompress);
    double gc = MegabytesPerSecond(size, gzip_compress), gd = MegabytesPerSecond(size, gzip_decompress);
    printf("%-7s %9zu | %9zu %6.3f %8.1f %8.1f | %9zu %6.3f %8.1f %8.1f | %6.2f %6.2f\n", input.name, size,
           ours_size, static_cast<double>(ours_size) / size, oc, od, gzip_size,
           static_cast<double>(gzip_size) / size, gc, gd, oc / gc, od / gd);
    fflush(stdout);
    for (const fs::path& path : {original, coded, decoded, gzipped, gunzipped}) fs::remove(path);
  }
  if (!MeasureShortMembers(inputs[0].data)) {
    fprintf(stderr, "codec_bench: the short members' round trip differs\n");
    all_ok = false;
  }
  if (argc <= 1) fs::remove_all(scratch);
  printf("MB/s: millions of uncompressed bytes per processor second (user + system), best of %d runs;\n"
         "both on one thread; gzip runs as its own process on files; round trips %s\n", ROUNDS,
         all_ok ? "verified" : "FAILED");
  return all_ok ? 0 : 1;
}
