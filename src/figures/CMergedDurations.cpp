#include "figures/CMergedDurations.h"

#include <algorithm>

void CMergedDurations::Add(const std::vector<CLatencyHistogram::Bucket>& buckets,
                           const CLatencyHistogram::Figures& figures)
{
    for (const CLatencyHistogram::Bucket& bucket : buckets)
        m_counts[{bucket.nFromNs, bucket.nToNs}] += bucket.nCount;
    if (figures.nCount == 0 && buckets.empty())
        return;
    m_dMinMs = m_bAny ? std::min(m_dMinMs, figures.dMinMs) : figures.dMinMs;
    m_dMaxMs = std::max(m_dMaxMs, figures.dMaxMs);
    m_bAny = true;
}

std::vector<CLatencyHistogram::Bucket> CMergedDurations::Buckets() const
{
    std::vector<CLatencyHistogram::Bucket> buckets;
    for (const auto& [range, nCount] : m_counts) {
        if (nCount > 0)
            buckets.push_back({range.first, range.second, nCount});
    }
    return buckets;
}

CLatencyHistogram::Figures CMergedDurations::Figures() const
{
    return CLatencyHistogram::Quantiles(Buckets(), m_bAny ? m_dMinMs : 0, m_dMaxMs);
}
