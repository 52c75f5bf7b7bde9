#include "packet/ChunkMemory.h"

#include <windows.h>

// Committed pages from the system, zeroed; they are faulted in as the chunk
// is filled.
char* ChunkMemory::Allocate(size_t nSize)
{
    return static_cast<char*>(VirtualAlloc(nullptr, nSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void ChunkMemory::Release(char* p, size_t)
{
    VirtualFree(p, 0, MEM_RELEASE);
}
