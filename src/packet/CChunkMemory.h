#pragma once

#include <cstddef>

// Large aligned blocks for the packet list's chunks, from the platform's
// aligned allocator, marked for transparent huge pages where the platform
// has them (only a hint). Any thread.
class CChunkMemory {
public:
    // nSize bytes aligned to nAlign (a power of two); throws std::bad_alloc
    // when there is no memory.
    static char* Allocate(size_t nSize, size_t nAlign);
    // Releases a block from Allocate; nothing for null.
    static void Free(char* p);
};
