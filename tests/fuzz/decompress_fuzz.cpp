// Arbitrary bytes as a coded stream. The archive reader's decoder must stop
// at a cut-off input instead of inventing bytes, and agree with the plain
// decoder wherever the input holds the whole stream.
#include <cstdint>
#include <cstdlib>

#include "codec/codec.h"
#include "codec/codec_internal.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceStandardOutput();
  return 0;
}

// A damaged stream can copy from window positions it has not written yet,
// which hold what the run before left there; both decoders start from the
// same window so that their outputs can be compared.
static void ClearWindow() { memset(&codec::process_carry, 0, sizeof codec::process_carry); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t cap = 1 << 20;
  ClearWindow();
  MemoryInput member_input(data, size);
  CappedOutput member_output(cap);
  int member = DecompressMember(member_input.stream, member_output.stream);
  if (member != DECODE_OK && member != DECODE_BAD_END_MARK && member != DECODE_TRUNCATED) abort();
  if (size < 4) {
    if (member != DECODE_TRUNCATED) abort();
    return 0;
  }

  // The plain decoder writes zeros up to the stated size after a cut: keep
  // that bounded.
  uint32_t stated = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  if (stated > (1u << 16)) return 0;
  ClearWindow();
  MemoryInput plain_input(data, size);
  CappedOutput plain_output(cap);
  int plain = DecompressStream(plain_input.stream, plain_output.stream);
  const std::string& plain_bytes = plain_output.Flushed();
  const std::string& member_bytes = member_output.Flushed();
  if (member == DECODE_TRUNCATED) {
    // What the member decoder wrote is what the plain one wrote first.
    if (plain_bytes.compare(0, member_bytes.size(), member_bytes) != 0) abort();
    if (member_output.total > stated) abort();
  } else {
    if (plain != member || plain_bytes != member_bytes) abort();
    if (ftell(plain_input.stream) != ftell(member_input.stream)) abort();
  }
  return 0;
}
