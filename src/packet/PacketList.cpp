#include "packet/PacketList.h"

#include <utility>

void PacketList::Add(std::unique_ptr<char[]> block, int32_t length)
{
    m_entries.push_back(Entry{std::move(block), length});
}

void PacketList::Clear()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
}
