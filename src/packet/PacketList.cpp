#include "packet/PacketList.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr size_t kHugePage = 2 * 1048576;
constexpr size_t kChunkSize = 2 * kHugePage;
// Larger packets get a block of their own, so a chunk never wastes more
// than this at its end.
constexpr size_t kLargestInChunk = kChunkSize / 16;

}  // namespace

void PacketList::FreeChunk::operator()(char* p) const
{
    std::free(p);
}

void PacketList::Add(std::unique_ptr<char[]> block, int32_t length)
{
    m_packets.push_back(Packet{block.get(), length});
    m_blocks.push_back(std::move(block));
}

Packet PacketList::AddCopy(const char* pData, int32_t length)
{
    const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    if (n > kLargestInChunk) {
        std::unique_ptr<char[]> block(new char[n]);
        std::memcpy(block.get(), pData, n);
        Add(std::move(block), length);
        return m_packets.back();
    }
    if (m_chunks.empty() || m_nChunkUsed + n > kChunkSize) {
        void* pChunk = nullptr;
        if (posix_memalign(&pChunk, kHugePage, kChunkSize) != 0)
            throw std::bad_alloc();
        // Only a hint: without huge pages the chunk is ordinary memory.
        madvise(pChunk, kChunkSize, MADV_HUGEPAGE);
        m_chunks.emplace_back(static_cast<char*>(pChunk));
        m_nChunkUsed = 0;
    }
    char* pCopy = m_chunks.back().get() + m_nChunkUsed;
    if (n > 0)
        std::memcpy(pCopy, pData, n);
    m_nChunkUsed += n;
    m_packets.push_back(Packet{pCopy, length});
    return m_packets.back();
}

void PacketList::Clear()
{
    m_packets.clear();
    m_packets.shrink_to_fit();
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_chunks.clear();
    m_chunks.shrink_to_fit();
    m_nChunkUsed = 0;
}
