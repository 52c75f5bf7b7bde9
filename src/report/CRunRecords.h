#pragma once

#include <optional>
#include <string>

#include "base/CStatus.h"
#include "figures/CRunRecord.h"

// The files a fleet run writes of itself when it ends, also when it was
// stopped: the stats file (--stats-json) and the HTML report (--report). The
// report is made from the stats file's own text, so the two never disagree.
// One thread.
class CRunRecords {
public:
    CRunRecords(const std::optional<std::string>& strStatsJson, const std::optional<std::string>& strReport);

    // Before the run, so that a file that cannot be written is said now
    // rather than after a long run.
    [[nodiscard]] CStatus CheckWritable() const;
    // Writes each file asked for; every one is tried, and a failure names
    // the file.
    [[nodiscard]] CStatus Write(const CRunRecord& record) const;

private:
    const std::optional<std::string> m_strStatsJson;
    const std::optional<std::string> m_strReport;
};
