// LZSS with adaptive Huffman coding: one coded stream per file. The codec
// keeps no state of the process: what one stream leaves for the next (the
// carry) is handed from call to call by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "codec/byteio.h"

// Results of compression.
const int COMPRESS_OK = 0;
// The input's size cannot be taken (it cannot be positioned) or is 4 GiB or
// more, which the size header cannot hold; nothing has been written.
const int COMPRESS_BAD_INPUT = 2;
// The input ended before the size taken at the start (it shrank while it was
// read): the stream was completed with zero bytes, so that it still decodes
// and whatever follows it stays readable, but it does not hold the file.
const int COMPRESS_SHORT_INPUT = 3;
// The output could not take the stream.
const int COMPRESS_WRITE_FAILED = 4;
// The codec gave up: its message ("Unable to write", "Unable to read", "Out
// of memory") is on standard output, and the run ends with exit code -1.
const int CODEC_GAVE_UP = -1;

// What a compression leaves in its window for the next one. The compressor
// reads window bytes that it has not written yet: beyond the end of an
// input shorter than 60 bytes, and in the mirror of the window's first 59
// positions until 119 bytes have been read. They can sway which of equally
// good matches is taken, never what a decoder rebuilds; but so that the
// same inputs in the same order always give the same bytes, the carry is
// handed from each compression to the next. Zero before the first one.
const int CARRY_SIZE = 119;
struct WindowCarry {
  uint8_t bytes[CARRY_SIZE];
};

// The carry after compressing size bytes, from the input's last
// min(size, 4096) bytes (tail) alone: an input of 119 bytes or more sets
// all of it, a shorter one keeps the rest of what it found, an empty one
// changes nothing.
void AdvanceCarry(WindowCarry* carry, const uint8_t* tail, uint64_t size);

// The codec's objects are plain data in memory from allocate (malloc, or
// the caller's own), released with its own release; null when there is
// none. A decoder serves any number of streams one after another.
typedef void* (*Allocator)(size_t size);
struct Decoder;
Decoder* NewDecoder(Allocator allocate);

// Compresses the whole of input (a regular file that can be positioned)
// into output at its current position: size header, bit stream, end mark
// 00 FF; *carry is advanced. Reads no more than the size the input had at
// the start, so a file that grows meanwhile is packed as it stood. Prints
// the statistics lines "input: %lu bytes", "output: %lu bytes" and
// "output/input: %.3f" for a non-empty input. COMPRESS_OK, BAD_INPUT,
// SHORT_INPUT or CODEC_GAVE_UP.
int CompressStream(FILE* input, FILE* output, WindowCarry* carry);

// Decodes one coded stream from input's current position into output and
// reads on through the end mark: 0 at 0xFF, 1 at any other byte (pad bytes
// 0x00 skipped) and at the end of the input. Prints the number of bytes
// decoded, "%12llu", for a non-empty stream; CODEC_GAVE_UP when the size
// header cannot be read or no decoder can be had.
int DecompressStream(FILE* input, FILE* output, WindowCarry* carry);
// The statistics lines of CompressStream and the count line of
// DecompressStream, on standard output.
void PrintStatistics(uint32_t input_size, uint32_t coded_size);
void PrintDecodedSize(uint64_t size);

// Results of DecompressMember.
const int DECODE_OK = 0;
const int DECODE_BAD_END_MARK = 1;
const int DECODE_TRUNCATED = 3;
const int DECODE_WRITE_FAILED = 4;

// The archive reader's variant: as DecompressStream, from a source into a
// sink (null: the bytes go nowhere), with the decoder given. An input that
// ends inside the size header or runs dry inside the bit stream (beyond the
// decoder's read-ahead) stops decoding at once and gives DECODE_TRUNCATED,
// instead of writing zeros up to the stated size; a sink that refuses gives
// DECODE_WRITE_FAILED. *decoded: the bytes given to the sink. Prints nothing.
int DecompressMember(Decoder* decoder, ByteSource* input, ByteSink sink, void* context,
                     WindowCarry* carry, uint64_t* decoded);
// Whether the decoder's last stream copied carried bytes: only then does
// what it decoded depend on the carry. Streams that the compressor writes
// never do.
bool StreamUsedCarry(const Decoder* decoder);
// The carry that decoding a stream of size bytes leaves, from the carry
// before it and the stream's last min(size, 4096) bytes (tail), as
// DecompressMember leaves it: for bytes decoded elsewhere.
void CarryAfterDecoding(WindowCarry* carry, const uint8_t* tail, uint64_t size);
