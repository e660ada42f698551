// Compresses files one after another in one process, for comparing the bytes
// of two builds: codec_tool INPUT OUTPUT [INPUT OUTPUT ...]. Exits with 2 when
// a file cannot be opened, compressed or written.
#include <cstdio>

#include "codec/codec.h"

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    FILE* input = fopen(argv[i], "rb");
    FILE* output = fopen(argv[i + 1], "wb");
    if (input == nullptr || output == nullptr) {
      fprintf(stderr, "codec_tool: cannot open %s or %s\n", argv[i], argv[i + 1]);
      return 2;
    }
    int result = CompressStream(input, output);
    fclose(input);
    if (fclose(output) != 0 || result != COMPRESS_OK) return 2;
  }
  return argc % 2 == 1 ? 0 : 2;
}
