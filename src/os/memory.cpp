// Memory from the heap, which the fault hook can refuse as well.
#include "os/memory.h"

#include <cstdlib>

#include "base/errors.h"
#include "os/fsops.h"

void* AllocateMemory(size_t size) {
  if (CallRefused(CALL_ALLOCATE)) return nullptr;
  void* block = malloc(size ? size : 1);
  if (!block) SetSystemError(OutOfMemoryCode());
  return block;
}

void* ResizeMemory(void* block, size_t size) {
  if (CallRefused(CALL_ALLOCATE)) return nullptr;
  void* grown = realloc(block, size ? size : 1);
  if (!grown) SetSystemError(OutOfMemoryCode());
  return grown;
}

void FreeMemory(void* block) { free(block); }
