#include "figures/CHandshakeStats.h"

void CHandshakeStats::Completed(int64_t nTookNs, bool bResumed)
{
    m_time.Add(nTookNs);
    if (bResumed)
        m_nResumed.fetch_add(1, std::memory_order_relaxed);
    m_nCompleted.fetch_add(1, std::memory_order_relaxed);
}

CHandshakeCounts CHandshakeStats::Counts() const
{
    CHandshakeCounts counts;
    counts.nStarted = m_nStarted.load(std::memory_order_relaxed);
    counts.nCompleted = m_nCompleted.load(std::memory_order_relaxed);
    counts.nResumed = m_nResumed.load(std::memory_order_relaxed);
    for (size_t i = 0; i < CHandshakeCounts::kCauses; ++i)
        counts.failed[i] = m_failed[i].load(std::memory_order_relaxed);
    counts.nRetransmissions = m_nRetransmissions.load(std::memory_order_relaxed);
    counts.nUnsent = m_nUnsent.load(std::memory_order_relaxed);
    counts.time = m_time.Read();
    counts.timeHistogram = m_time.Buckets();
    return counts;
}

uint64_t CHandshakeStats::Open() const
{
    return m_nCompleted.load(std::memory_order_relaxed) - m_nClosed.load(std::memory_order_relaxed);
}
