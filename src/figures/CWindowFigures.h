#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "figures/CFaultCounts.h"
#include "figures/CLatencyHistogram.h"
#include "figures/CRunRecord.h"

// A run's figures over a span of its seconds (the last few, for a verdict
// that slides; a capacity step's) as a record that thresholds judge as they
// judge the whole run's: the seconds' counts summed, their durations'
// buckets merged and read as the whole run's are. The run hands it each
// second's figures as it closes. One thread.
class CWindowFigures {
public:
    struct Second {
        CRunRecord::Second figures;
        std::vector<CLatencyHistogram::Bucket> lateness;
        std::vector<CLatencyHistogram::Bucket> rtt;
        CFaultCounts faults;  // injected in the second
    };

    void Add(Second second);
    // Forgets the seconds before second nT of the run.
    void KeepFrom(uint64_t nT);
    size_t Seconds() const { return m_seconds.size(); }
    // The span as a record: sent, errors and replies; lateness and, with
    // replies matched, round trips and the replies' counts; the faults
    // injected (bTraffic when any of the seconds had traffic).
    CRunRecord Record(bool bReplies, bool bTraffic) const;

private:
    std::deque<Second> m_seconds;
};
