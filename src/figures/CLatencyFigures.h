#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "figures/CLatencyHistogram.h"

// One kind of duration of a run (each datagram's lateness): the whole run's
// histogram, the current second's, and the same durations counted in fixed
// buckets with their sum, whose edges stay the same from run to run (what
// Prometheus wants). Add may be called from any thread at any time;
// TakeSecond from one thread, once a second; the other readers from any.
class CLatencyFigures {
public:
    // The whole run's durations at most each edge, cumulative; the last
    // count is all of them (above the last edge too).
    struct Cumulative {
        std::vector<uint64_t> counts;
        uint64_t nSumNs = 0;
    };

    // fixedEdgesNs: the fixed buckets' upper bounds, inclusive, ascending.
    explicit CLatencyFigures(std::vector<int64_t> fixedEdgesNs);

    // A negative duration counts as 0.
    void Add(int64_t nNs);

    CLatencyHistogram::Figures Total() const { return m_total.Read(); }
    std::vector<CLatencyHistogram::Bucket> Buckets() const { return m_total.Buckets(); }
    // The figures since the last TakeSecond, and their buckets when asked.
    CLatencyHistogram::Figures TakeSecond(std::vector<CLatencyHistogram::Bucket>* pBuckets = nullptr)
    {
        return m_second.Take(pBuckets);
    }
    const std::vector<int64_t>& FixedEdgesNs() const { return m_fixedEdgesNs; }
    Cumulative FixedBuckets() const;

private:
    const std::vector<int64_t> m_fixedEdgesNs;
    // For each histogram bucket, the first fixed edge at or above its
    // lowest value: a bucket is narrower than the gap between two edges, so
    // a duration's fixed bucket is that one or the next.
    std::vector<uint8_t> m_fixedOfBucket;
    CLatencyHistogram m_total;
    CLatencyHistogram m_second;
    std::vector<std::atomic<uint64_t>> m_fixed;
    std::atomic<uint64_t> m_nSumNs{0};
};
