#include "figures/CFaultStats.h"

CFaultCounts CFaultStats::Counts() const
{
    CFaultCounts counts;
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
        counts.counts[i] = m_counts[i].load(std::memory_order_relaxed);
    counts.nHeldAtStop = m_nHeldAtStop.load(std::memory_order_relaxed);
    return counts;
}
