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
    void Add(std::unique_ptr<char[]> block, int32_t length);
    // Releases every block; Packet views taken earlier become invalid.
    void Clear();

    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    Packet operator[](size_t i) const { return {m_entries[i].block.get(), m_entries[i].length}; }

private:
    struct Entry {
        std::unique_ptr<char[]> block;
        int32_t length;
    };
    std::vector<Entry> m_entries;
};
