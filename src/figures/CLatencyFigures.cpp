#include "figures/CLatencyFigures.h"

#include <utility>

CLatencyFigures::CLatencyFigures(std::vector<int64_t> fixedEdgesNs)
    : m_fixedEdgesNs(std::move(fixedEdgesNs)),
      m_fixedOfBucket(CLatencyHistogram::kBuckets),
      m_fixed(m_fixedEdgesNs.size() + 1)
{
    for (int i = 0; i < CLatencyHistogram::kBuckets; ++i) {
        int64_t nFrom = 0;
        int64_t nWidth = 0;
        CLatencyHistogram::BucketRange(i, nFrom, nWidth);
        size_t nEdge = 0;
        while (nEdge < m_fixedEdgesNs.size() && m_fixedEdgesNs[nEdge] < nFrom)
            ++nEdge;
        m_fixedOfBucket[static_cast<size_t>(i)] = static_cast<uint8_t>(nEdge);
    }
}

void CLatencyFigures::Add(int64_t nNs)
{
    const int64_t nValue = nNs < 0 ? 0 : nNs;
    const int nBucket = CLatencyHistogram::BucketOf(nValue);
    m_total.Add(nValue);
    m_second.Add(nValue);
    size_t nFixed = m_fixedOfBucket[static_cast<size_t>(nBucket)];
    if (nFixed < m_fixedEdgesNs.size() && nValue > m_fixedEdgesNs[nFixed])
        ++nFixed;
    m_fixed[nFixed].fetch_add(1, std::memory_order_relaxed);
    m_nSumNs.fetch_add(static_cast<uint64_t>(nValue), std::memory_order_relaxed);
}

CLatencyFigures::Cumulative CLatencyFigures::FixedBuckets() const
{
    Cumulative cumulative;
    uint64_t nBelow = 0;
    for (const std::atomic<uint64_t>& nCount : m_fixed) {
        nBelow += nCount.load(std::memory_order_relaxed);
        cumulative.counts.push_back(nBelow);
    }
    cumulative.nSumNs = m_nSumNs.load(std::memory_order_relaxed);
    return cumulative;
}
