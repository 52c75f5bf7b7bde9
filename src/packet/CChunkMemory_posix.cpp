#include "packet/CChunkMemory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

char* CChunkMemory::Allocate(size_t nSize, size_t nAlign)
{
    void* p = nullptr;
    if (posix_memalign(&p, nAlign, nSize) != 0)
        throw std::bad_alloc();
    // Only a hint: without huge pages the chunk is ordinary memory.
    madvise(p, nSize, MADV_HUGEPAGE);
    return static_cast<char*>(p);
}

void CChunkMemory::Free(char* p)
{
    std::free(p);
}
