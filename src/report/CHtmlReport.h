#pragma once

#include <string>
#include <vector>

#include "base/CStatus.h"

#include "report/CRunReport.h"

// A fleet run's report as one self-contained HTML page: the command lines,
// the summary table, plots of datagrams, send errors, replies and lateness
// per second (a point per second of the series) and a histogram of lateness.
// Inline CSS and SVG only: nothing to fetch, no script, every text escaped.
// Any thread.
class CHtmlReport {
public:
    static std::string Html(const CRunReport& report);
    // The thresholds' table of any run's report: each verdict (its rule,
    // value or "no data", ok or crossed) and, when sources are given, the
    // file that judged it.
    static std::string VerdictTable(const std::vector<CVerdict>& verdicts, const std::vector<std::string>& sources);
    // Writes the page to a file by its UTF-8 path; a failure says why, as
    // CFileWriter does.
    static CStatus Write(const std::string& strPath, const CRunReport& report);
};
