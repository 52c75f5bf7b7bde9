#include "figures/CLatencyHistogram.h"

#include <algorithm>

namespace {

constexpr double kNsPerMs = 1e6;

// The non-empty buckets, ascending, each count as countOf(bucket) reads it.
template <class CountOf>
std::vector<CLatencyHistogram::Bucket> NonEmpty(CountOf countOf)
{
    std::vector<CLatencyHistogram::Bucket> buckets;
    for (int i = 0; i < CLatencyHistogram::kBuckets; ++i) {
        const uint64_t nCount = countOf(static_cast<size_t>(i));
        if (nCount == 0)
            continue;
        int64_t nFrom = 0;
        int64_t nWidth = 0;
        CLatencyHistogram::BucketRange(i, nFrom, nWidth);
        buckets.push_back({static_cast<uint64_t>(nFrom), static_cast<uint64_t>(nFrom + nWidth), nCount});
    }
    return buckets;
}

}  // namespace

int CLatencyHistogram::BucketOf(int64_t nNs)
{
    if (nNs < kSubBuckets)
        return nNs < 0 ? 0 : static_cast<int>(nNs);
    const int nExponent = 63 - __builtin_clzll(static_cast<uint64_t>(nNs));  // >= 4
    const int nSub = static_cast<int>((static_cast<uint64_t>(nNs) >> (nExponent - 4)) & (kSubBuckets - 1));
    const int nBucket = kSubBuckets + (nExponent - 4) * kSubBuckets + nSub;
    return nBucket < kBuckets ? nBucket : kBuckets - 1;
}

void CLatencyHistogram::BucketRange(int nBucket, int64_t& nFrom, int64_t& nWidth)
{
    if (nBucket < kSubBuckets) {
        nFrom = nBucket;
        nWidth = 1;
        return;
    }
    // Durations are at most INT64_MAX, so the buckets above 2^62 ns are never
    // filled and never asked for.
    const int nExponent = std::min((nBucket - kSubBuckets) / kSubBuckets + 4, 62);
    const int nSub = (nBucket - kSubBuckets) % kSubBuckets;
    nWidth = int64_t{1} << (nExponent - 4);
    nFrom = (int64_t{1} << nExponent) + nSub * nWidth;
}

void CLatencyHistogram::Add(int64_t nNs)
{
    const int64_t nValue = nNs < 0 ? 0 : nNs;
    m_counts[static_cast<size_t>(BucketOf(nValue))].fetch_add(1, std::memory_order_relaxed);
    int64_t nOld = m_nMax.load(std::memory_order_relaxed);
    while (nValue > nOld && !m_nMax.compare_exchange_weak(nOld, nValue, std::memory_order_relaxed)) {
    }
    nOld = m_nMin.load(std::memory_order_relaxed);
    while (nValue < nOld && !m_nMin.compare_exchange_weak(nOld, nValue, std::memory_order_relaxed)) {
    }
}

std::vector<CLatencyHistogram::Bucket> CLatencyHistogram::Buckets() const
{
    return NonEmpty([this](size_t i) { return m_counts[i].load(std::memory_order_relaxed); });
}

CLatencyHistogram::Figures CLatencyHistogram::Read() const
{
    return Quantiles(Buckets(), static_cast<double>(m_nMin.load()) / kNsPerMs,
                     static_cast<double>(m_nMax.load()) / kNsPerMs);
}

CLatencyHistogram::Figures CLatencyHistogram::Take(std::vector<Bucket>* pBuckets)
{
    std::vector<Bucket> buckets =
        NonEmpty([this](size_t i) { return m_counts[i].exchange(0, std::memory_order_relaxed); });
    const int64_t nMin = m_nMin.exchange(INT64_MAX);
    const Figures figures =
        Quantiles(buckets, static_cast<double>(nMin) / kNsPerMs, static_cast<double>(m_nMax.exchange(0)) / kNsPerMs);
    if (pBuckets)
        *pBuckets = std::move(buckets);
    return figures;
}

CLatencyHistogram::Figures CLatencyHistogram::Quantiles(const std::vector<Bucket>& buckets, double dMinMs,
                                                        double dMaxMs)
{
    Figures figures;
    figures.dMaxMs = dMaxMs;
    for (const Bucket& bucket : buckets)
        figures.nCount += bucket.nCount;
    if (figures.nCount == 0)
        return figures;
    figures.dMinMs = std::min(dMinMs, dMaxMs);
    const uint64_t nP50 = (figures.nCount + 1) / 2;
    const uint64_t nP99 = figures.nCount - figures.nCount / 100;
    uint64_t nSeen = 0;
    bool bP50 = false;
    for (const Bucket& bucket : buckets) {
        nSeen += bucket.nCount;
        const uint64_t nWidth = bucket.nToNs - bucket.nFromNs;
        // The narrowest buckets hold one value each.
        const double dMiddleMs =
            (static_cast<double>(bucket.nFromNs) + (nWidth == 1 ? 0.0 : static_cast<double>(nWidth) / 2)) /
            kNsPerMs;
        // A bucket's middle can lie beyond every duration in it.
        const double dWithinMs = std::clamp(dMiddleMs, figures.dMinMs, dMaxMs);
        if (!bP50 && nSeen >= nP50) {
            figures.dP50Ms = dWithinMs;
            bP50 = true;
        }
        if (nSeen >= nP99) {
            figures.dP99Ms = dWithinMs;
            break;
        }
    }
    return figures;
}
