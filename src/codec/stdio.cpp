// The codec's own stream interface over the C library's streams, for
// callers that have them (tests and benchmarks); the program itself reads
// and writes through the byte sources and sinks of its archive layer.
#include <cstdlib>

#include "codec/codec.h"
#include "codec/codec_internal.h"

static int FillFromStdio(ByteSource* self) {
  StdioSource* source = reinterpret_cast<StdioSource*>(self);
  size_t got = fread(source->buffer, 1, sizeof source->buffer, source->file);
  if (got == 0) return EOF;
  self->next = source->buffer + 1;
  self->end = source->buffer + got;
  return source->buffer[0];
}

void OpenStdioSource(StdioSource* source, FILE* file) {
  source->file = file;
  source->source.next = source->source.end = source->buffer;
  source->source.abandoned = false;
  source->source.fill = FillFromStdio;
}

void CloseStdioSource(StdioSource* source) {
  long unread = (long)(source->source.end - source->source.next);
  if (unread > 0) fseek(source->file, -unread, SEEK_CUR);
  source->source.next = source->source.end;
}

int WriteToStdio(void* file, const uint8_t* bytes, size_t size) {
  return fwrite(bytes, 1, size, static_cast<FILE*>(file)) == size ? 0 : 1;
}

// The codec's way of giving up on its own stream interface: the message on
// standard output, as the run's last words.
static int GiveUp(const char* message) {
  printf("\n%s\n", message);
  return CODEC_GAVE_UP;
}

int CompressStream(FILE* input, FILE* output, WindowCarry* carry) {
  // A long of 32 bits may hold a cut size, or none: a byte after the end
  // that ftell names tells that the file is larger than it says.
  if (fseek(input, 0, SEEK_END) != 0) return COMPRESS_BAD_INPUT;
  long offset = ftell(input);
  if (offset < 0 || (uint64_t)offset > 0xFFFFFFFF || fseek(input, offset, SEEK_SET) != 0 ||
      getc(input) != EOF || fseek(input, 0, SEEK_SET) != 0)
    return COMPRESS_BAD_INPUT;
  uint32_t size = static_cast<uint32_t>(offset);
  uint8_t header[4];
  MakeSizeHeader(size, header);
  if (fwrite(header, 1, 4, output) != 4) return GiveUp("Unable to write");
  Encoder* encoder = NewEncoder(malloc);
  if (!encoder) return GiveUp("Out of memory");
  StdioSource source;
  OpenStdioSource(&source, input);
  uint32_t coded_size;
  int result = EncodeStream(encoder, &source.source, size, carry, WriteToStdio, output, &coded_size);
  CloseStdioSource(&source);
  free(encoder);
  if (size != 0) PrintStatistics(size, coded_size);
  return result == COMPRESS_WRITE_FAILED ? GiveUp("Unable to write") : result;
}

int DecompressStream(FILE* input, FILE* output, WindowCarry* carry) {
  StdioSource source;
  OpenStdioSource(&source, input);
  Decoder* decoder = NewDecoder(malloc);
  if (!decoder) return GiveUp("Out of memory");
  uint32_t size;
  uint64_t decoded;
  int result = DecodeStream(decoder, &source.source, WriteToStdio, output, carry, false, &size, &decoded);
  CloseStdioSource(&source);
  free(decoder);
  if (result == DECODE_NO_HEADER) return GiveUp("Unable to read");
  if (size != 0) PrintDecodedSize(decoded);
  return result == DECODE_OK ? 0 : 1;
}
