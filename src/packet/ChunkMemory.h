#pragma once

#include <cstddef>

// Large blocks straight from the system for the packet list's chunks, with
// every page present on return: a chunk is filled right after it is taken,
// so faulting it in at once saves a page fault for each of its pages. The
// system's own calls stay in the platform's source file. Any thread may call.
class ChunkMemory {
public:
    // A zeroed, writable block of nSize bytes, or null when the system has
    // no memory for it. Give it back with Release and the same size.
    static char* Allocate(size_t nSize);
    static void Release(char* p, size_t nSize);
};
