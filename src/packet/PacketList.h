#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "packet/Packet.h"

// The packets of one run in cutting order. The list owns every packet's block;
// the Packet views it hands out stay valid until the list is destroyed or
// cleared, also when more packets are added. Used by one thread at a time:
// filled by a loader, then handed over whole to the send worker.
class PacketList {
public:
    // Takes the block over.
    void Add(std::unique_ptr<char[]> block, int32_t length);
    // Copies the bytes into storage of the list's own, packed into large
    // chunks: a whole day of small messages then costs some twenty
    // allocations instead of one each. Returns the new packet.
    Packet AddCopy(const char* pData, int32_t length);
    // Releases every block; Packet views taken earlier become invalid.
    void Clear();

    size_t size() const { return m_packets.size(); }
    bool empty() const { return m_packets.empty(); }
    Packet operator[](size_t i) const { return m_packets[i]; }

private:
    struct FreeChunk {
        void operator()(char* p) const;
    };

    std::vector<Packet> m_packets;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::unique_ptr<char, FreeChunk>> m_chunks;
    // Bytes used of the last chunk.
    size_t m_nChunkUsed = 0;
};
