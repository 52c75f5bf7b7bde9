#include "figures/CFleetStats.h"

const std::vector<int64_t>& CFleetStats::LatenessEdgesNs()
{
    static const std::vector<int64_t> edges = {100000,   250000,   500000,    1000000,   2500000,
                                               5000000,  10000000, 25000000,  50000000,  100000000,
                                               250000000, 500000000, 1000000000};
    return edges;
}

CFleetStats::CFleetStats() : m_lateness(LatenessEdgesNs()) {}

CFleetStats::~CFleetStats() = default;

void CFleetStats::MatchReplies(int64_t nTimeoutNs)
{
    m_pReplies = std::make_unique<CReplyStats>(nTimeoutNs);
}

void CFleetStats::RecordSend(bool bSent, int64_t nLatenessNs)
{
    (bSent ? m_nSent : m_nErrors).fetch_add(1, std::memory_order_relaxed);
    m_lateness.Add(nLatenessNs);
}

void CFleetStats::RecordReply(size_t nBytes)
{
    m_nReplies.fetch_add(1, std::memory_order_relaxed);
    m_nReplyBytes.fetch_add(nBytes, std::memory_order_relaxed);
}

void CFleetStats::SetSearch(const Search& search)
{
    const std::lock_guard<std::mutex> lock(m_searchMutex);
    m_search = search;
}

std::optional<CFleetStats::Search> CFleetStats::SearchNow() const
{
    const std::lock_guard<std::mutex> lock(m_searchMutex);
    return m_search;
}

CFleetStats::Second CFleetStats::Sample(double dTarget, bool bSaturated)
{
    Second second;
    const uint64_t nSent = Sent();
    const uint64_t nErrors = Errors();
    const uint64_t nReplies = Replies();
    second.nT = m_series.size() + 1;
    second.nDevices = Devices();
    second.nOnline = Online();
    second.nSent = nSent - m_nLastSent;
    second.nErrors = nErrors - m_nLastErrors;
    second.nReplies = nReplies - m_nLastReplies;
    second.lateness = m_lateness.TakeSecond(&m_lastLateness);
    second.dTarget = dTarget;
    second.bBehind = bSaturated || second.lateness.dP99Ms > kBehindLatenessMs;
    m_dLastTarget.store(dTarget);
    m_bLastBehind.store(second.bBehind);
    m_nBehindSeconds.fetch_add(second.bBehind ? 1 : 0);
    if (m_pReplies) {
        CReplyStats::Second replies = m_pReplies->TakeSecond();
        second.replies = replies.counts;
        second.rtt = replies.rtt;
        m_lastRtt = std::move(replies.rttBuckets);
    }
    m_nLastSent = nSent;
    m_nLastErrors = nErrors;
    m_nLastReplies = nReplies;
    m_series.push_back(second);
    return second;
}

void CFleetStats::Fill(CRunRecord& record) const
{
    record.nSent = Sent();
    record.nErrors = Errors();
    record.nReplies = Replies();
    record.nReplyBytes = m_nReplyBytes.load();
    record.lateness = Total();
    record.series = m_series;
    record.latenessHistogram = m_lateness.Buckets();
    if (m_pReplies) {
        CRunRecord::ReplyMatching matching;
        matching.nTimeoutNs = m_pReplies->TimeoutNs();
        matching.counts = m_pReplies->Totals();
        matching.rtt = m_pReplies->RoundTrip();
        matching.rttHistogram = m_pReplies->RoundTripBuckets();
        record.replyMatching = std::move(matching);
    }
    if (m_pHandshakes)
        record.handshakes = m_pHandshakes->Counts();
}
