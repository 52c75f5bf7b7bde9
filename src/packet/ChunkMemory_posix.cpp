#include "packet/ChunkMemory.h"

#include <sys/mman.h>

// Ordinary pages, no huge-page hint. A huge page needs a whole free 2 MiB
// block, and a virtual machine with free page reporting hands such blocks
// back to its host about two seconds after they are freed; clearing one then
// takes a host fault for each of its small pages, which made a 548 MB import
// take two to four times as long whenever the last one was a while ago.
char* ChunkMemory::Allocate(size_t nSize)
{
    void* p = mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<char*>(p);
}

void ChunkMemory::Release(char* p, size_t nSize)
{
    munmap(p, nSize);
}
