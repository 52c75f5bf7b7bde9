#include "figures/CWindowFigures.h"

#include <utility>

#include "figures/CMergedDurations.h"

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
        matching.counts.Add(second.figures.replies);
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
