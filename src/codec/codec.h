// LZSS with adaptive Huffman coding: one coded stream per file.
#pragma once

#include <cstdint>
#include <cstdio>

// Results of CompressStream.
const int COMPRESS_OK = 0;
// The input's size cannot be taken (it cannot be positioned) or is 4 GiB or
// more, which the size header cannot hold; nothing has been written.
const int COMPRESS_BAD_INPUT = 2;
// The input ended before the size taken at the start (it shrank while it was
// read): the stream was completed with zero bytes, so that it still decodes
// and whatever follows it stays readable, but it does not hold the file.
const int COMPRESS_SHORT_INPUT = 3;

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

// The entry points below hand one carry of the process from each call to
// the next, compressions and decompressions alike, as one window would.

// Compresses the whole of input (a regular file that can be positioned)
// into output at its current position: size header, bit stream, end mark
// 00 FF. Reads no more than the size the input had at the start, so a file
// that grows meanwhile is packed as it stood. Prints the statistics lines
// "input: %lu bytes", "output: %lu bytes" and "output/input: %.3f" for a
// non-empty input.
int CompressStream(FILE* input, FILE* output);

// Decodes one coded stream from input's current position into output and
// reads on through the end mark: 0 at 0xFF, 1 at any other byte (pad bytes
// 0x00 skipped) and at the end of the input. Prints the number of bytes
// decoded, "%12llu", for a non-empty stream.
int DecompressStream(FILE* input, FILE* output);

// Results of DecompressMember.
const int DECODE_OK = 0;
const int DECODE_BAD_END_MARK = 1;
const int DECODE_TRUNCATED = 3;

// The archive reader's variant: as DecompressStream, but an input that ends
// inside the size header or runs dry inside the bit stream (beyond the
// decoder's read-ahead) stops decoding at once and gives DECODE_TRUNCATED,
// instead of ending the process or writing zeros up to the stated size.
// Prints nothing.
int DecompressMember(FILE* input, FILE* output);

// Writes "\n%s\n" to standard output and ends the process with status -1.
[[noreturn]] void FatalError(const char* message);
