#include "figures/CWindowFigures.h"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

namespace {

using Bucket = CLatencyHistogram::Bucket;

// Durations of several seconds merged: their buckets summed, read within
// the seconds' least and greatest.
class CMergedDurations {
public:
    void Add(const std::vector<Bucket>& buckets, const CLatencyHistogram::Figures& figures)
    {
        for (const Bucket& bucket : buckets)
            m_counts[{bucket.nFromNs, bucket.nToNs}] += bucket.nCount;
        if (figures.nCount > 0) {
            m_dMinMs = std::min(m_dMinMs, figures.dMinMs);
            m_dMaxMs = std::max(m_dMaxMs, figures.dMaxMs);
        }
    }
    std::vector<Bucket> Buckets() const
    {
        std::vector<Bucket> buckets;
        for (const auto& [range, nCount] : m_counts)
            buckets.push_back({range.first, range.second, nCount});
        return buckets;
    }
    CLatencyHistogram::Figures Figures() const { return CLatencyHistogram::Quantiles(Buckets(), m_dMinMs, m_dMaxMs); }

private:
    std::map<std::pair<uint64_t, uint64_t>, uint64_t> m_counts;
    double m_dMinMs = std::numeric_limits<double>::infinity();
    double m_dMaxMs = 0;
};

void AddCounts(CReplyStats::Counts& sum, const CReplyStats::Counts& counts)
{
    sum.nMatched += counts.nMatched;
    sum.nLost += counts.nLost;
    sum.nEvicted += counts.nEvicted;
    sum.nLate += counts.nLate;
    sum.nDuplicate += counts.nDuplicate;
    sum.nUnmatched += counts.nUnmatched;
    sum.nOutOfOrder += counts.nOutOfOrder;
    sum.nUntracked += counts.nUntracked;
}

}  // namespace

void CWindowFigures::Add(Second second)
{
    m_seconds.push_back(std::move(second));
}

void CWindowFigures::KeepFrom(uint64_t nT)
{
    while (!m_seconds.empty() && m_seconds.front().figures.nT < nT)
        m_seconds.pop_front();
}

CRunRecord CWindowFigures::Record(bool bReplies, bool bTraffic) const
{
    CRunRecord record;
    CMergedDurations lateness;
    CMergedDurations rtt;
    CRunRecord::ReplyMatching matching;
    for (const Second& second : m_seconds) {
        record.nSent += second.figures.nSent;
        record.nErrors += second.figures.nErrors;
        record.nReplies += second.figures.nReplies;
        lateness.Add(second.lateness, second.figures.lateness);
        rtt.Add(second.rtt, second.figures.rtt);
        AddCounts(matching.counts, second.figures.replies);
        for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
            record.faults.counts[i] += second.faults.counts[i];
    }
    record.dSeconds = static_cast<double>(m_seconds.size());
    record.lateness = lateness.Figures();
    record.latenessHistogram = lateness.Buckets();
    record.bTraffic = bTraffic;
    if (bReplies) {
        matching.rtt = rtt.Figures();
        matching.rttHistogram = rtt.Buckets();
        record.replyMatching = std::move(matching);
    }
    return record;
}
