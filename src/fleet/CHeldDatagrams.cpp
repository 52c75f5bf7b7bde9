#include "fleet/CHeldDatagrams.h"

#include <algorithm>

namespace {

// The heap's order: the earliest on top, first held first.
bool Later(const CHeldDatagrams::Held& a, const CHeldDatagrams::Held& b)
{
    return a.nAtNs != b.nAtNs ? a.nAtNs > b.nAtNs : a.nOrder > b.nOrder;
}

}  // namespace

void CHeldDatagrams::Hold(uint32_t nDevice, const char* pData, size_t nLength, int64_t nAtNs,
                          std::optional<uint64_t> matchKey)
{
    uint32_t nBuffer = 0;
    if (m_free.empty()) {
        nBuffer = static_cast<uint32_t>(m_buffers.size());
        m_buffers.emplace_back();
    } else {
        nBuffer = m_free.back();
        m_free.pop_back();
    }
    m_buffers[nBuffer].assign(pData, nLength);
    m_heap.push_back(Held{nAtNs, m_nOrder++, nDevice, nBuffer, nLength, matchKey});
    std::push_heap(m_heap.begin(), m_heap.end(), Later);
}

void CHeldDatagrams::Pop()
{
    std::pop_heap(m_heap.begin(), m_heap.end(), Later);
    m_free.push_back(m_heap.back().nBuffer);
    m_heap.pop_back();
}

void CHeldDatagrams::Shift(int64_t nNs)
{
    for (Held& held : m_heap)
        held.nAtNs += nNs;
}
