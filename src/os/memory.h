// Memory from the heap. A block that cannot be had is null, with the
// system's code for "out of memory" left for LastSystemError(); the fault
// seam of fsops.h (CALL_ALLOCATE) can refuse it too.
#pragma once

#include <cstddef>

void* AllocateMemory(size_t size);
void* ResizeMemory(void* block, size_t size);
void FreeMemory(void* block);
