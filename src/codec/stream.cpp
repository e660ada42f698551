// Not built yet: answers with a clear message and a failure.
#include "codec/codec.h"
#include <cstdlib>
#include "ui/messages.h"

int CompressStream(FILE*, FILE*) { FatalError("The codec is not available in this build."); }
int DecompressStream(FILE*, FILE*) { FatalError("The codec is not available in this build."); }
int DecompressMember(FILE*, FILE*) { FatalError("The codec is not available in this build."); }
[[noreturn]] void FatalError(const char* message) {
  printf("\n%s\n", message);
  exit(-1);
}
