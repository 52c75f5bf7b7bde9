#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "figures/CLatencyHistogram.h"

// Durations of several parts merged (seconds of a window, a run's shards):
// their buckets summed by range, their quantiles read as one histogram's
// within the parts' least and greatest duration. One thread.
class CMergedDurations {
public:
    // A part: its non-empty buckets and its figures (count, least, greatest).
    void Add(const std::vector<CLatencyHistogram::Bucket>& buckets, const CLatencyHistogram::Figures& figures);
    // The non-empty buckets, ascending.
    std::vector<CLatencyHistogram::Bucket> Buckets() const;
    CLatencyHistogram::Figures Figures() const;

private:
    std::map<std::pair<uint64_t, uint64_t>, uint64_t> m_counts;
    double m_dMinMs = 0;
    double m_dMaxMs = 0;
    bool m_bAny = false;
};
