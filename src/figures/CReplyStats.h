#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "figures/CLatencyFigures.h"

// The fate of a fleet's datagrams and replies when replies are matched to
// the datagrams they answer: a datagram is answered (its round trip
// measured), lost (no answer within the timeout, or pushed out of its
// device's outstanding ones: evicted, counted apart too) or not tracked
// (without the member replies are matched by); a reply is matched, late
// (its datagram was already lost), a duplicate (its datagram was already
// answered) or unmatched, and a matched one may also have come out of order.
// The round trips in CLatencyFigures, with fixed buckets up to the timeout.
// Record* from any thread; TakeSecond from one thread, once a second; the
// other readers from any.
class CReplyStats {
public:
    struct Counts {
        uint64_t nMatched = 0;
        uint64_t nLost = 0;
        uint64_t nEvicted = 0;
        uint64_t nLate = 0;
        uint64_t nDuplicate = 0;
        uint64_t nUnmatched = 0;
        uint64_t nOutOfOrder = 0;
        uint64_t nUntracked = 0;

        // Another part's counts added (a second's, a shard's).
        void Add(const Counts& other);
        // The tracked datagrams whose fate is known (answered or lost), and
        // the share of them lost (0 while none is known).
        uint64_t Known() const { return nMatched + nLost; }
        double LossShare() const
        {
            return Known() > 0 ? static_cast<double>(nLost) / static_cast<double>(Known()) : 0.0;
        }
    };

    struct Second {
        Counts counts;  // in that second
        CLatencyHistogram::Figures rtt;
        std::vector<CLatencyHistogram::Bucket> rttBuckets;
    };

    explicit CReplyStats(int64_t nTimeoutNs);

    // Fixed bucket edges for round trips: the usual ones below the timeout,
    // and the timeout.
    static std::vector<int64_t> EdgesUpTo(int64_t nTimeoutNs);

    void RecordMatched(int64_t nRoundTripNs, bool bOutOfOrder);
    void RecordLost(bool bEvicted);
    void RecordLate() { m_nLate.fetch_add(1, std::memory_order_relaxed); }
    void RecordDuplicate() { m_nDuplicate.fetch_add(1, std::memory_order_relaxed); }
    void RecordUnmatched() { m_nUnmatched.fetch_add(1, std::memory_order_relaxed); }
    void RecordUntracked() { m_nUntracked.fetch_add(1, std::memory_order_relaxed); }

    int64_t TimeoutNs() const { return m_nTimeoutNs; }
    Counts Totals() const;
    CLatencyHistogram::Figures RoundTrip() const { return m_rtt.Total(); }
    std::vector<CLatencyHistogram::Bucket> RoundTripBuckets() const { return m_rtt.Buckets(); }
    CLatencyFigures::Cumulative FixedBuckets() const { return m_rtt.FixedBuckets(); }
    const std::vector<int64_t>& FixedEdgesNs() const { return m_rtt.FixedEdgesNs(); }
    // What happened since the last TakeSecond.
    Second TakeSecond();

private:
    const int64_t m_nTimeoutNs;
    std::atomic<uint64_t> m_nMatched{0};
    std::atomic<uint64_t> m_nLost{0};
    std::atomic<uint64_t> m_nEvicted{0};
    std::atomic<uint64_t> m_nLate{0};
    std::atomic<uint64_t> m_nDuplicate{0};
    std::atomic<uint64_t> m_nUnmatched{0};
    std::atomic<uint64_t> m_nOutOfOrder{0};
    std::atomic<uint64_t> m_nUntracked{0};
    CLatencyFigures m_rtt;
    Counts m_last;
};
