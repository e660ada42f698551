// Compresses or decompresses files with the codec, one after another in one
// process, for comparing the bytes that different builds produce:
//   codec_tool c|d INPUT OUTPUT [INPUT OUTPUT ...]
// The exit code is the first non-zero result, or 2 when a file cannot be
// opened.
#include <cstdio>
#include <cstring>

#include "codec/codec.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0 || (strcmp(argv[1], "c") != 0 && strcmp(argv[1], "d") != 0)) {
    fprintf(stderr, "usage: codec_tool c|d INPUT OUTPUT [INPUT OUTPUT ...]\n");
    return 2;
  }
  int status = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    FILE* input = fopen(argv[i], "rb");
    if (input == nullptr) {
      fprintf(stderr, "codec_tool: cannot open %s\n", argv[i]);
      return 2;
    }
    FILE* output = fopen(argv[i + 1], "wb");
    if (output == nullptr) {
      fprintf(stderr, "codec_tool: cannot create %s\n", argv[i + 1]);
      fclose(input);
      return 2;
    }
    int result = argv[1][0] == 'c' ? CompressStream(input, output) : DecompressStream(input, output);
    fclose(input);
    if (fclose(output) != 0) {
      fprintf(stderr, "codec_tool: cannot write %s\n", argv[i + 1]);
      return 2;
    }
    if (status == 0) status = result;
  }
  return status;
}
