#include "packet/PacketList.h"

#include <cstring>
#include <new>
#include <utility>

#include "packet/ChunkMemory.h"

#if defined(__SANITIZE_ADDRESS__)
#define TOVRIK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVRIK_ASAN 1
#endif
#endif

#ifdef TOVRIK_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr size_t kChunkSize = 4 * 1048576;
// Larger packets get a block of their own, so a chunk never wastes more
// than this at its end.
constexpr size_t kLargestInChunk = kChunkSize / 16;

#ifdef TOVRIK_ASAN
// Under AddressSanitizer the unused part of a chunk stays poisoned and every
// packet is followed by a gap, so that a read past a packet's end is caught
// as it would be past a block of its own. Packets start on the shadow
// memory's 8-byte granules, so that each gap is poisoned whole.
constexpr size_t kRedZone = 16;
constexpr size_t kAlign = 8;
void Poison(const char* p, size_t n)
{
    ASAN_POISON_MEMORY_REGION(p, n);
}
void Unpoison(const char* p, size_t n)
{
    ASAN_UNPOISON_MEMORY_REGION(p, n);
}
#else
constexpr size_t kRedZone = 0;
constexpr size_t kAlign = 1;
void Poison(const char*, size_t) {}
void Unpoison(const char*, size_t) {}
#endif

}  // namespace

void PacketList::FreeChunk::operator()(char* p) const
{
    Unpoison(p, kChunkSize);
    ChunkMemory::Release(p, kChunkSize);
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
    if (m_chunks.empty() || m_nChunkUsed + n + kRedZone > kChunkSize) {
        char* pChunk = ChunkMemory::Allocate(kChunkSize);
        if (pChunk == nullptr)
            throw std::bad_alloc();
        m_chunks.emplace_back(pChunk);
        Poison(m_chunks.back().get(), kChunkSize);
        m_nChunkUsed = 0;
    }
    char* pCopy = m_chunks.back().get() + m_nChunkUsed;
    Unpoison(pCopy, n);
    if (n > 0)
        std::memcpy(pCopy, pData, n);
    m_nChunkUsed += (n + kRedZone + kAlign - 1) / kAlign * kAlign;
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
