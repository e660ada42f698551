// Arbitrary bytes through the compressor and back: the stream must decode
// to the input and end exactly at its end mark. The ring keeps bytes of the
// runs before, as it does between the files of an archive.
#include <cstdint>
#include <cstdlib>

#include "codec/codec.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryInput input(data, size);
  CappedOutput coded(size_t{1} << 24);
  if (CompressStream(input.stream, coded.stream) != COMPRESS_OK) abort();
  const std::string& stream = coded.Flushed();
  // No code is longer than about 24 bits, so a stream never grows beyond
  // three bytes per input byte.
  if (stream.size() < 6 || stream.size() > 3 * size + 64) abort();

  MemoryInput coded_input(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
  CappedOutput decoded(size + 64);
  if (DecompressMember(coded_input.stream, decoded.stream) != DECODE_OK) abort();
  if (ftell(coded_input.stream) != static_cast<long>(stream.size())) abort();
  const std::string& bytes = decoded.Flushed();
  if (bytes.size() != size || (size != 0 && memcmp(bytes.data(), data, size) != 0)) abort();
  return 0;
}
