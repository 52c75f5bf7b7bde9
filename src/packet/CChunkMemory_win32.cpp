#include "packet/CChunkMemory.h"

#include <malloc.h>

#include <new>

char* CChunkMemory::Allocate(size_t nSize, size_t nAlign)
{
    void* p = _aligned_malloc(nSize, nAlign);
    if (p == nullptr)
        throw std::bad_alloc();
    return static_cast<char*>(p);
}

void CChunkMemory::Free(char* p)
{
    _aligned_free(p);
}
