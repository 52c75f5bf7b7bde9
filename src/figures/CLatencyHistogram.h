#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

// Durations (lateness, round trips) in buckets at most 6.25 % wide: below
// 16 ns one per nanosecond, then 16 per power of two. Add may be called from
// any thread at any time (relaxed atomic adds, no lock); the readers from one
// thread. Quantiles reads every duration figure of the program from
// buckets, the live ones and those merged from files alike.
class CLatencyHistogram {
public:
    // Nanoseconds [nFromNs, nToNs).
    struct Bucket {
        uint64_t nFromNs = 0;
        uint64_t nToNs = 0;
        uint64_t nCount = 0;
    };

    struct Figures {
        double dP50Ms = 0;
        double dP99Ms = 0;
        double dMaxMs = 0;
        double dMinMs = 0;
        uint64_t nCount = 0;  // the durations counted
    };

    // A negative duration counts as 0.
    void Add(int64_t nNs);
    // The figures of everything added.
    Figures Read() const;
    // The same, clearing each count as it is read, so that every duration
    // counts in exactly one Take; the buckets read into pBuckets when given.
    Figures Take(std::vector<Bucket>* pBuckets = nullptr);
    // The non-empty buckets, ascending.
    std::vector<Bucket> Buckets() const;

    // p50 and p99 of buckets (ascending): the middle of the bucket that holds
    // the rank (the value itself where a bucket is one nanosecond wide), kept
    // within the least and the greatest duration seen, dMinMs and dMaxMs.
    static Figures Quantiles(const std::vector<Bucket>& buckets, double dMinMs, double dMaxMs);

    // The bucket of a duration, and the nanoseconds a bucket holds.
    static int BucketOf(int64_t nNs);
    static void BucketRange(int nBucket, int64_t& nFrom, int64_t& nWidth);

    static constexpr int kSubBuckets = 16;
    static constexpr int kBuckets = kSubBuckets + 60 * kSubBuckets;

private:
    std::array<std::atomic<uint64_t>, kBuckets> m_counts{};
    std::atomic<int64_t> m_nMin{INT64_MAX};
    std::atomic<int64_t> m_nMax{0};
};
