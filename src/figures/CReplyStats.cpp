#include "figures/CReplyStats.h"

CReplyStats::CReplyStats(int64_t nTimeoutNs) : m_nTimeoutNs(nTimeoutNs), m_rtt(EdgesUpTo(nTimeoutNs)) {}

std::vector<int64_t> CReplyStats::EdgesUpTo(int64_t nTimeoutNs)
{
    static const int64_t kEdgesNs[] = {100000,   250000,   500000,    1000000,   2500000,   5000000,   10000000,
                                       25000000, 50000000, 100000000, 250000000, 500000000, 1000000000, 2500000000,
                                       5000000000, 10000000000, 25000000000, 50000000000};
    std::vector<int64_t> edges;
    for (const int64_t nEdge : kEdgesNs) {
        if (nEdge < nTimeoutNs)
            edges.push_back(nEdge);
    }
    edges.push_back(nTimeoutNs);
    return edges;
}

void CReplyStats::RecordMatched(int64_t nRoundTripNs, bool bOutOfOrder)
{
    m_nMatched.fetch_add(1, std::memory_order_relaxed);
    if (bOutOfOrder)
        m_nOutOfOrder.fetch_add(1, std::memory_order_relaxed);
    m_rtt.Add(nRoundTripNs);
}

void CReplyStats::RecordLost(bool bEvicted)
{
    m_nLost.fetch_add(1, std::memory_order_relaxed);
    if (bEvicted)
        m_nEvicted.fetch_add(1, std::memory_order_relaxed);
}

void CReplyStats::Counts::Add(const Counts& other)
{
    nMatched += other.nMatched;
    nLost += other.nLost;
    nEvicted += other.nEvicted;
    nLate += other.nLate;
    nDuplicate += other.nDuplicate;
    nUnmatched += other.nUnmatched;
    nOutOfOrder += other.nOutOfOrder;
    nUntracked += other.nUntracked;
}

CReplyStats::Counts CReplyStats::Totals() const
{
    Counts counts;
    counts.nMatched = m_nMatched.load();
    counts.nLost = m_nLost.load();
    counts.nEvicted = m_nEvicted.load();
    counts.nLate = m_nLate.load();
    counts.nDuplicate = m_nDuplicate.load();
    counts.nUnmatched = m_nUnmatched.load();
    counts.nOutOfOrder = m_nOutOfOrder.load();
    counts.nUntracked = m_nUntracked.load();
    return counts;
}

CReplyStats::Second CReplyStats::TakeSecond()
{
    const Counts now = Totals();
    Second second;
    second.counts.nMatched = now.nMatched - m_last.nMatched;
    second.counts.nLost = now.nLost - m_last.nLost;
    second.counts.nEvicted = now.nEvicted - m_last.nEvicted;
    second.counts.nLate = now.nLate - m_last.nLate;
    second.counts.nDuplicate = now.nDuplicate - m_last.nDuplicate;
    second.counts.nUnmatched = now.nUnmatched - m_last.nUnmatched;
    second.counts.nOutOfOrder = now.nOutOfOrder - m_last.nOutOfOrder;
    second.counts.nUntracked = now.nUntracked - m_last.nUntracked;
    second.rtt = m_rtt.TakeSecond(&second.rttBuckets);
    m_last = now;
    return second;
}
