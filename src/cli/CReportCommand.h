#pragma once

// `tovrik-cli report STATS.json... -o REPORT.html`: one HTML report of the
// stats files (--stats-json) of a fleet run, its shards merged. Main thread.
class CReportCommand {
public:
    // The name that starts the command as tovrik-cli's first argument.
    static constexpr char kName[] = "report";

    // argv as given to tovrik-cli, its first argument the command's name.
    // Answers the process's exit code: 0 written, 1 the report cannot be
    // written, 2 a stats file cannot be read, is not one, or the files are
    // not one fleet's, 64 a usage error.
    static int Run(int argc, char** argv);
};
