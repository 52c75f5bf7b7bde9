#pragma once

#include <string>
#include <vector>

#include "base/CStatus.h"

struct CRunReport;

// `tovrik-cli report STATS.json... -o REPORT.html`: one HTML report of the
// stats files (--stats-json) of a fleet run, its shards merged; with
// --threshold, one verdict on the merged figures; with --baseline, every
// figure beside an earlier run's. Main thread.
class CReportCommand {
public:
    // The name that starts the command as tovrik-cli's first argument.
    static constexpr char kName[] = "report";

    // argv as given to tovrik-cli, its first argument the command's name.
    // Answers the process's exit code: 0 written, 1 the report cannot be
    // written, 2 a stats file cannot be read, is not one, or the files are
    // not one fleet's, 3 a threshold crossed on the merged figures (or a
    // capacity search's merged steps found none, or less than it required),
    // 64 a usage error.
    static int Run(int argc, char** argv);

private:
    // The files read and merged into one report.
    static CStatus Merge(const std::vector<std::string>& files, CRunReport& report);
};
