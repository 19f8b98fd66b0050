// Large, page-aligned blocks that the system hands out zeroed (the hash table). On Linux
// the block is an anonymous mapping advised for transparent huge pages; on
// Windows it comes from VirtualAlloc. Returns nullptr when the memory is not
// available.
#pragma once

#include <cstddef>

void* allocateLarge(size_t bytes);
void freeLarge(void* block, size_t bytes);
