// The coded stream: a 4-byte little-endian size header, the bit stream of
// literals and matches, and the end mark 00 FF. The LZSS loop here drives
// the match finder and the coder.
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "codec/byteio.h"
#include "codec/codec.h"
#include "codec/codec_internal.h"

namespace codec {

FILE* input_stream;
FILE* output_stream;

// Compressing: the input's size, then the count of input bytes read.
// Decompressing: the size from the size header.
static uint32_t input_size;

// Bytes of the input the compressor may still read: never more than the
// size header promised, even if the file grows meanwhile.
static uint32_t input_left;
// Set when the input ended before its promised size.
static bool input_short;

// The next input byte, or EOF once the promised size has been read. An input
// that ends early is completed with zero bytes, so that the stream still
// holds exactly as many bytes as its header says.
static inline int ReadInput() {
  if (input_left == 0) return EOF;
  input_left--;
  int byte = input_short ? EOF : ReadByte(input_stream);
  if (byte == EOF) {
    input_short = true;
    byte = 0;
  }
  return byte;
}

// The oldest position s leaves the trees and its byte becomes b, mirrored
// past the window's end for the first 59 positions.
static inline void Slide(int s, int b) {
  DeletePosition(s);
  ring[s] = static_cast<uint8_t>(b);
  if (s < MAX_MATCH - 1) ring[s + WINDOW_SIZE] = static_cast<uint8_t>(b);
}

static int Encode() {
  if (fseek(input_stream, 0, SEEK_END) != 0) return COMPRESS_BAD_INPUT;
  int64_t size = TellOffset(input_stream);
  if (size < 0 || size > 0xFFFFFFFF) return COMPRESS_BAD_INPUT;
  input_size = static_cast<uint32_t>(size);
  unsigned char header[4] = {
      static_cast<unsigned char>(input_size), static_cast<unsigned char>(input_size >> 8),
      static_cast<unsigned char>(input_size >> 16), static_cast<unsigned char>(input_size >> 24)};
  if (fwrite(header, 1, 4, output_stream) != 4) FatalError("Unable to write");
  if (input_size == 0) return COMPRESS_OK;

  input_left = input_size;
  input_short = fseek(input_stream, 0, SEEK_SET) != 0;
  input_size = 0;
  coded_size = 0;
  StartCoder();
  ResetMatchTree();

  int s = 0;
  int r = START_POSITION;
  memset(ring, ' ', START_POSITION);
  int len = 0;
  int c;
  while (len < MAX_MATCH && (c = ReadInput()) != EOF) {
    ring[r + len] = static_cast<uint8_t>(c);
    len++;
  }
  input_size = static_cast<uint32_t>(len);
  for (int i = 1; i <= MAX_MATCH; i++) InsertPosition(r - i);
  InsertPosition(r);

  do {
    if (match_length > len) match_length = len;
    if (match_length <= MATCH_THRESHOLD) {
      match_length = 1;
      EncodeSymbol(ring[r]);
    } else {
      EncodeSymbol(match_length + 253);
      EncodePosition(match_position);
    }
    int last_match_length = match_length;
    int i = 0;
    while (i < last_match_length && (c = ReadInput()) != EOF) {
      Slide(s, c);
      s = (s + 1) & (WINDOW_SIZE - 1);
      r = (r + 1) & (WINDOW_SIZE - 1);
      i++;
      if (i == last_match_length) {
        InsertPosition(r);
        break;
      }
      // Inside a match only the insertions matter, not their matches;
      // two at a time where they cannot disturb each other.
      if (!CanInsertTogether(r, s)) {
        InsertWithoutMatch(r);
        continue;
      }
      if ((c = ReadInput()) == EOF) {
        InsertPosition(r);
        break;
      }
      Slide(s, c);
      s = (s + 1) & (WINDOW_SIZE - 1);
      i++;
      InsertTogether(r, (r + 1) & (WINDOW_SIZE - 1), i == last_match_length);
      r = (r + 1) & (WINDOW_SIZE - 1);
    }
    input_size += static_cast<uint32_t>(i);
    for (; i < last_match_length; i++) {
      DeletePosition(s);
      s = (s + 1) & (WINDOW_SIZE - 1);
      r = (r + 1) & (WINDOW_SIZE - 1);
      if (--len != 0) InsertPosition(r);
    }
  } while (len > 0);
  FlushBits();

  printf("input: %lu bytes\n", static_cast<unsigned long>(input_size));
  printf("output: %lu bytes\n", static_cast<unsigned long>(coded_size));
  printf("output/input: %.3f\n", static_cast<double>(coded_size) / static_cast<double>(input_size));
  return input_short ? COMPRESS_SHORT_INPUT : COMPRESS_OK;
}

// The decoder works in a straight buffer rather than in the ring: the 4096
// bytes before the write position are the window, matches copy from it
// with plain pointers, and full blocks go to the output with one write.
// Before decoding, the window is taken from the ring; afterwards the ring
// gets the last 4096 bytes back, as though every byte had gone through it.
const size_t BLOCK_SIZE = 65536;
static uint8_t history[WINDOW_SIZE + BLOCK_SIZE + 2 * MAX_MATCH];

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

// Decodes one stream after its size header. With stop_when_cut, an input
// that ends inside the bit stream stops decoding before the first item
// built from bits the input never held; the result is then
// DECODE_TRUNCATED, else DECODE_OK.
static int Decode(bool stop_when_cut) {
  if (input_size == 0) return DECODE_OK;
  StartCoder();
  memset(ring, ' ', START_POSITION);
  unsigned r = START_POSITION;
  for (int k = 0; k < WINDOW_SIZE; k++) history[k] = ring[(r + k) & (WINDOW_SIZE - 1)];
  uint8_t* const start = history + WINDOW_SIZE;
  uint8_t* const limit = start + BLOCK_SIZE;
  uint8_t* out = start;
  // 64 bits: a damaged stream's last match may run past a size near 4 GiB.
  uint64_t count = 0;
  int result = DECODE_OK;
  while (count < input_size) {
    if (out >= limit) {
      fwrite(start, 1, static_cast<size_t>(out - start), output_stream);
      memmove(history, out - WINDOW_SIZE, WINDOW_SIZE);
      out = start;
    }
    int c = DecodeSymbol();
    if (c < 256) {
      if (stop_when_cut && ReadPastEnd()) {
        result = DECODE_TRUNCATED;
        break;
      }
      *out++ = static_cast<uint8_t>(c);
      count++;
    } else {
      unsigned distance = DecodePosition() + 1;
      if (stop_when_cut && ReadPastEnd()) {
        result = DECODE_TRUNCATED;
        break;
      }
      unsigned length = static_cast<unsigned>(c - 253);
      CopyMatch(out, distance, length);
      out += length;
      count += length;
    }
  }
  fwrite(start, 1, static_cast<size_t>(out - start), output_stream);
  r = static_cast<unsigned>(START_POSITION + count);
  for (int k = 1; k <= WINDOW_SIZE; k++) ring[(r - k) & (WINDOW_SIZE - 1)] = out[-k];
  printf("%12" PRIu64 "\n", count);
  return result;
}

// Reads the size header into input_size; false when the input ends first.
static bool ReadSizeHeader() {
  unsigned char header[4];
  if (fread(header, 1, 4, input_stream) != 4) return false;
  input_size = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
               static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
  return true;
}

// Reads on through the end mark: pad bytes 00 are skipped, FF ends the
// stream well, anything else (or the end of the input) does not.
static int ReadEndMark() {
  for (;;) {
    int byte = ReadByte(input_stream);
    if (byte == 0) continue;
    return byte == 0xFF ? DECODE_OK : DECODE_BAD_END_MARK;
  }
}

}  // namespace codec

using namespace codec;

int CompressStream(FILE* input, FILE* output) {
  input_stream = input;
  output_stream = output;
  int result = Encode();
  if (result == COMPRESS_BAD_INPUT) return result;
  WriteByte(0x00, output_stream);
  WriteByte(0xFF, output_stream);
  return result;
}

int DecompressStream(FILE* input, FILE* output) {
  input_stream = input;
  output_stream = output;
  if (!ReadSizeHeader()) FatalError("Unable to read");
  Decode(false);
  return ReadEndMark();
}

int DecompressMember(FILE* input, FILE* output) {
  input_stream = input;
  output_stream = output;
  if (!ReadSizeHeader()) return DECODE_TRUNCATED;
  if (Decode(true) == DECODE_TRUNCATED) return DECODE_TRUNCATED;
  return ReadEndMark();
}

[[noreturn]] void FatalError(const char* message) {
  printf("\n%s\n", message);
  exit(-1);
}
