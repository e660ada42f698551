// The coded stream: a 4-byte little-endian size header, the bit stream of
// literals and matches, and the end mark 00 FF. The LZSS loop here drives
// the match finder and hands its items to the coder in token blocks.
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/codec.h"
#include "codec/codec_internal.h"

namespace codec {

void AdvanceCarryPart(WindowCarry* carry, const uint8_t* tail, uint64_t size, int limit) {
  // Byte i of a stream lands at window position 4036 + i (mod 4096), where
  // carried byte k sits for every i = k (mod 4096); the last such i wins.
  uint64_t tail_start = size < WINDOW_SIZE ? 0 : size - WINDOW_SIZE;
  for (int k = 0; k < limit && static_cast<uint64_t>(k) < size; k++) {
    uint64_t i = size - 1 - ((size - 1 - k) & (WINDOW_SIZE - 1));
    carry->bytes[k] = tail[i - tail_start];
  }
}

}  // namespace codec

using namespace codec;

void AdvanceCarry(WindowCarry* carry, const uint8_t* tail, uint64_t size) {
  AdvanceCarryPart(carry, tail, size, CARRY_SIZE);
}

// The next input byte, or EOF once the promised size has been read. An input
// that ends early is completed with zero bytes, so that the stream still
// holds exactly as many bytes as its header says.
inline int MatchStage::ReadInput() {
  if (left == 0) return EOF;
  left--;
  int byte = input_short ? EOF : ReadByte(input);
  if (byte == EOF) {
    if (input->abandoned) {
      left = 0;  // nobody wants the rest
      return EOF;
    }
    input_short = true;
    byte = 0;
  }
  return byte;
}

// The oldest position s leaves the trees and its byte becomes b, mirrored
// past the window's end for the first 59 positions.
static inline void Slide(MatchFinder& finder, int s, int b) {
  finder.Delete(s);
  finder.ring[s] = static_cast<uint8_t>(b);
  if (s < MAX_MATCH - 1) finder.ring[s + WINDOW_SIZE] = static_cast<uint8_t>(b);
}

void MakeSizeHeader(uint32_t size, uint8_t header[4]) {
  for (int i = 0; i < 4; i++) header[i] = static_cast<uint8_t>(size >> (8 * i));
}

void StartMatching(MatchStage* stage, ByteSource* input, uint32_t size, const WindowCarry& carry) {
  MatchFinder& finder = stage->finder;
  memcpy(finder.ring + START_POSITION, carry.bytes, CARRY_SIZE);
  stage->input = input;
  stage->left = size;
  stage->len = 0;
  stage->input_short = false;
  if (size == 0) return;
  finder.Reset();
  stage->s = 0;
  int r = stage->r = START_POSITION;
  memset(finder.ring, ' ', START_POSITION);
  int len = 0;
  int c;
  while (len < MAX_MATCH && (c = stage->ReadInput()) != EOF) {
    finder.ring[r + len] = static_cast<uint8_t>(c);
    len++;
  }
  stage->len = len;
  // The 60 positions before the first byte begin with 1, 2, ... 60 spaces
  // and go on with the data. When the first byte is no space, each string
  // compares lower (or higher, for a byte below the space) than all those
  // before it at that byte, and the walks would build a chain.
  if (finder.ring[r] == ' ') {
    for (int i = 1; i <= MAX_MATCH; i++) finder.Insert(r - i);
  } else {
    finder.InsertChain(r - 1, r - MAX_MATCH, finder.ring[r] > ' ');
  }
  finder.Insert(r);
}

bool FindTokens(MatchStage* stage, TokenBlock* block) {
  MatchFinder& finder = stage->finder;
  int s = stage->s, r = stage->r, len = stage->len;
  int count = 0;
  while (len > 0 && count < TOKEN_BLOCK_SIZE) {
    if (finder.match_length > len) finder.match_length = len;
    if (finder.match_length <= MATCH_THRESHOLD) {
      finder.match_length = 1;
      block->tokens[count++] = finder.ring[r];
    } else {
      block->tokens[count++] =
          static_cast<uint32_t>(finder.match_length + 253) | static_cast<uint32_t>(finder.match_position) << 16;
    }
    int last_match_length = finder.match_length;
    int i = 0;
    int c;
    while (i < last_match_length && (c = stage->ReadInput()) != EOF) {
      Slide(finder, s, c);
      s = (s + 1) & (WINDOW_SIZE - 1);
      r = (r + 1) & (WINDOW_SIZE - 1);
      i++;
      if (i == last_match_length) {
        finder.Insert(r);
        break;
      }
      // Inside a match only the insertions matter, not their matches;
      // two at a time where they cannot disturb each other.
      if (!finder.CanInsertTogether(r, s)) {
        finder.InsertWithoutMatch(r);
        continue;
      }
      if ((c = stage->ReadInput()) == EOF) {
        finder.Insert(r);
        break;
      }
      Slide(finder, s, c);
      s = (s + 1) & (WINDOW_SIZE - 1);
      i++;
      finder.InsertTogether(r, (r + 1) & (WINDOW_SIZE - 1), i == last_match_length);
      r = (r + 1) & (WINDOW_SIZE - 1);
    }
    for (; i < last_match_length; i++) {
      finder.Delete(s);
      s = (s + 1) & (WINDOW_SIZE - 1);
      r = (r + 1) & (WINDOW_SIZE - 1);
      if (--len != 0) finder.Insert(r);
    }
  }
  stage->s = s;
  stage->r = r;
  stage->len = len;
  block->count = count;
  return len > 0;
}

bool InputCameShort(const MatchStage* stage) { return stage->input_short; }

void KeepCarry(const MatchStage* stage, WindowCarry* carry) {
  memcpy(carry->bytes, stage->finder.ring + START_POSITION, CARRY_SIZE);
}

void StartCoding(CoderStage* stage, ByteSink sink, void* context) {
  BitWriter& writer = stage->symbols.writer;
  writer.sink = sink;
  writer.context = context;
  writer.used = 0;
  writer.coded_size = 0;
  writer.refused = false;
  stage->symbols.Start();
}

void CodeTokens(CoderStage* stage, const TokenBlock* block) {
  SymbolEncoder& symbols = stage->symbols;
  for (int i = 0; i < block->count; i++) {
    uint32_t token = block->tokens[i];
    int symbol = static_cast<int>(token & 0xFFFF);
    symbols.EncodeSymbol(symbol);
    if (symbol > 255) symbols.EncodePosition(token >> 16);
  }
}

uint32_t FinishCoding(CoderStage* stage) {
  BitWriter& writer = stage->symbols.writer;
  writer.FlushBits();
  writer.PutByte(0x00);
  writer.PutByte(0xFF);
  writer.Drain();
  return writer.coded_size;
}

bool SinkRefused(const CoderStage* stage) { return stage->symbols.writer.refused; }

// The objects are plain data: placed in memory from allocate, nothing to
// construct or destroy.
template <typename T>
static T* Allocate(Allocator allocate) {
  void* memory = allocate(sizeof(T));
  return memory ? new (memory) T : nullptr;
}

MatchStage* NewMatchStage(Allocator allocate) { return Allocate<MatchStage>(allocate); }
CoderStage* NewCoderStage(Allocator allocate) { return Allocate<CoderStage>(allocate); }
Encoder* NewEncoder(Allocator allocate) { return Allocate<Encoder>(allocate); }
Decoder* NewDecoder(Allocator allocate) { return Allocate<Decoder>(allocate); }

int EncodeStream(Encoder* encoder, ByteSource* input, uint32_t size, WindowCarry* carry, ByteSink sink,
                 void* context, uint32_t* coded_size) {
  StartMatching(&encoder->match, input, size, *carry);
  StartCoding(&encoder->coder, sink, context);
  if (size != 0) {
    bool more;
    do {
      more = FindTokens(&encoder->match, &encoder->tokens);
      CodeTokens(&encoder->coder, &encoder->tokens);
    } while (more);
  }
  *coded_size = FinishCoding(&encoder->coder);
  KeepCarry(&encoder->match, carry);
  if (SinkRefused(&encoder->coder)) return COMPRESS_WRITE_FAILED;
  return InputCameShort(&encoder->match) ? COMPRESS_SHORT_INPUT : COMPRESS_OK;
}

void PrintStatistics(uint32_t input_size, uint32_t coded_size) {
  printf("input: %lu bytes\n", static_cast<unsigned long>(input_size));
  printf("output: %lu bytes\n", static_cast<unsigned long>(coded_size));
  printf("output/input: %.3f\n", static_cast<double>(coded_size) / static_cast<double>(input_size));
}

void PrintDecodedSize(uint64_t size) { printf("%12" PRIu64 "\n", size); }

// Copies length bytes from distance bytes back, as one byte after another
// would: a copy closer than 8 bytes repeats its own output.
static inline void CopyMatch(uint8_t* out, unsigned distance, unsigned length) {
  const uint8_t* from = out - distance;
  if (distance >= 8) {
    // Eight at a time; up to 7 bytes past the end are written and later
    // overwritten.
    for (unsigned k = 0; k < length; k += 8) memcpy(out + k, from + k, 8);
  } else {
    for (unsigned k = 0; k < length; k++) out[k] = from[k];
  }
}

void Decoder::Start(ByteSource* input, ByteSink output, void* output_context, uint32_t stream_size,
                    const WindowCarry& carry, bool stop) {
  sink = output;
  context = output_context;
  size = stream_size;
  count = 0;
  handed = 0;
  stop_when_cut = stop;
  truncated = false;
  refused = false;
  used_carry = false;
  symbols.reader.stream = input;
  // The window before the first byte: the carried bytes at the first byte's
  // position and on, then the spaces up to it.
  memcpy(history, carry.bytes, DECODER_CARRY_SIZE);
  memset(history + DECODER_CARRY_SIZE, ' ', WINDOW_SIZE - DECODER_CARRY_SIZE);
  out = history + WINDOW_SIZE;
  if (size != 0) symbols.Start();
}

bool Decoder::Step() {
  uint8_t* const start = history + WINDOW_SIZE;
  uint8_t* const limit = start + BLOCK_SIZE;
  if (out >= limit) {
    memmove(history, out - WINDOW_SIZE, WINDOW_SIZE);
    out = start;
  }
  // In locals: a byte written through at could be any member, as far as
  // the compiler knows.
  uint8_t* const block = out;
  uint8_t* at = out;
  uint64_t decoded = count;
  const uint64_t wanted = size;
  const bool stop = stop_when_cut;
  bool cut = false;
  while (decoded < wanted && at < limit) {
    int c = symbols.DecodeSymbol();
    if (c < 256) {
      if (stop && symbols.reader.ReadPastEnd()) {
        cut = true;
        break;
      }
      *at++ = static_cast<uint8_t>(c);
      decoded++;
    } else {
      unsigned distance = symbols.DecodePosition() + 1;
      if (stop && symbols.reader.ReadPastEnd()) {
        cut = true;
        break;
      }
      unsigned length = static_cast<unsigned>(c - 253);
      if (distance + DECODER_CARRY_SIZE > WINDOW_SIZE + decoded) used_carry = true;
      CopyMatch(at, distance, length);
      at += length;
      decoded += length;
    }
  }
  out = at;
  count = decoded;
  truncated = cut;
  if (out != block) {
    size_t length = static_cast<size_t>(out - block);
    if (sink && sink(context, block, length) != 0) refused = true;
    handed += length;
  }
  return count < size && !truncated && !refused;
}

void Decoder::KeepCarry(WindowCarry* carry) const {
  // The window's last 4096 bytes end at out; the oldest of them is at the
  // window position that carried byte 0 names when count is a multiple of
  // 4096.
  for (int k = 0; k < DECODER_CARRY_SIZE; k++) {
    int back = WINDOW_SIZE - static_cast<int>((k - count) & (WINDOW_SIZE - 1));
    carry->bytes[k] = out[-back];
  }
}

void CarryAfterDecoding(WindowCarry* carry, const uint8_t* tail, uint64_t size) {
  // As KeepCarry, on a window of the carried bytes and spaces followed by
  // the stream's bytes, of which tail holds the last min(size, 4096).
  uint8_t before[DECODER_CARRY_SIZE];
  memcpy(before, carry->bytes, sizeof before);
  uint64_t kept = size < WINDOW_SIZE ? size : WINDOW_SIZE;
  for (int k = 0; k < DECODER_CARRY_SIZE; k++) {
    uint64_t back = WINDOW_SIZE - ((k - size) & (WINDOW_SIZE - 1));  // 1 to 4096 bytes before the end
    if (back <= kept) {
      carry->bytes[k] = tail[kept - back];
    } else {
      uint64_t at = WINDOW_SIZE - (back - size);  // in the window before the stream
      carry->bytes[k] = at < DECODER_CARRY_SIZE ? before[at] : ' ';
    }
  }
}

bool StreamUsedCarry(const Decoder* decoder) { return decoder->used_carry; }

// Reads the size header; false when the input ends first.
static bool ReadSizeHeader(ByteSource* input, uint32_t* size) {
  uint32_t value = 0;
  for (int i = 0; i < 4; i++) {
    int byte = ReadByte(input);
    if (byte == EOF) return false;
    value |= static_cast<uint32_t>(byte) << (8 * i);
  }
  *size = value;
  return true;
}

// Reads on through the end mark: pad bytes 00 are skipped, FF ends the
// stream well, anything else (or the end of the input) does not.
static int ReadEndMark(ByteSource* input) {
  for (;;) {
    int byte = ReadByte(input);
    if (byte == 0) continue;
    return byte == 0xFF ? DECODE_OK : DECODE_BAD_END_MARK;
  }
}

int DecodeStream(Decoder* decoder, ByteSource* input, ByteSink sink, void* context, WindowCarry* carry,
                 bool stop_when_cut, uint32_t* size, uint64_t* decoded) {
  *decoded = 0;
  if (!ReadSizeHeader(input, size)) return DECODE_NO_HEADER;
  if (*size != 0) {
    decoder->Start(input, sink, context, *size, *carry, stop_when_cut);
    while (decoder->Step()) {
    }
    decoder->symbols.reader.GiveBack();
    decoder->KeepCarry(carry);
    *decoded = decoder->handed;
    if (decoder->refused) return DECODE_WRITE_FAILED;
    if (decoder->truncated) return DECODE_TRUNCATED;
  }
  return ReadEndMark(input);
}

int DecompressMember(Decoder* decoder, ByteSource* input, ByteSink sink, void* context, WindowCarry* carry,
                     uint64_t* decoded) {
  uint32_t size;
  int result = DecodeStream(decoder, input, sink, context, carry, true, &size, decoded);
  return result == DECODE_NO_HEADER ? DECODE_TRUNCATED : result;
}
