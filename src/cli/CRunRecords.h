#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/CStatus.h"
#include "fleet/CFleetStats.h"

// The files a fleet run writes of itself when it ends, also when it was
// stopped: the stats file (--stats-json) and the HTML report (--report). The
// report is made from the stats file's own text, so the two never disagree.
// Main thread.
class CRunRecords {
public:
    CRunRecords(const std::optional<std::string>& strStatsJson, const std::optional<std::string>& strReport);

    // Before the run, so that a file that cannot be written is said now
    // rather than after a long run.
    CStatus CheckWritable() const;
    // The run's first second begins now, on the wall clock.
    void MarkStart();
    // Writes each file asked for, with the wall-clock start in the identity;
    // every one is tried, and a failure names the file.
    CStatus Write(const CFleetStats& stats, CFleetStats::Identity identity, double dSeconds) const;

private:
    const std::optional<std::string> m_strStatsJson;
    const std::optional<std::string> m_strReport;
    int64_t m_nStartUnixMs = 0;
};
