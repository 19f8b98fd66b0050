#include "platform/memory.h"

#ifdef _WIN32
#include <windows.h>

void* allocateLarge(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }
void freeLarge(void* block, size_t) { VirtualFree(block, 0, MEM_RELEASE); }

#else
#include <sys/mman.h>

void* allocateLarge(size_t bytes) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
}
void freeLarge(void* block, size_t bytes) { munmap(block, bytes); }
#endif
