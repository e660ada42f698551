// Compresses or decompresses one file with the codec, for comparing the
// bytes that different builds produce: codec_tool c|d INPUT OUTPUT.
#include <cstdio>
#include <cstring>

#include "codec/codec.h"

int main(int argc, char** argv) {
  if (argc != 4 || (strcmp(argv[1], "c") != 0 && strcmp(argv[1], "d") != 0)) {
    fprintf(stderr, "usage: codec_tool c|d INPUT OUTPUT\n");
    return 2;
  }
  FILE* input = fopen(argv[2], "rb");
  if (input == nullptr) {
    fprintf(stderr, "codec_tool: cannot open %s\n", argv[2]);
    return 2;
  }
  FILE* output = fopen(argv[3], "wb");
  if (output == nullptr) {
    fprintf(stderr, "codec_tool: cannot create %s\n", argv[3]);
    fclose(input);
    return 2;
  }
  int result = argv[1][0] == 'c' ? CompressStream(input, output) : DecompressStream(input, output);
  fclose(input);
  if (fclose(output) != 0) {
    fprintf(stderr, "codec_tool: cannot write %s\n", argv[3]);
    return 2;
  }
  return result;
}
