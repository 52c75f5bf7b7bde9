#include "cli/CReportCommand.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "cli/CCliOptions.h"
#include "cli/CRunPrinter.h"
#include "report/CFileWriter.h"
#include "report/CHtmlReport.h"
#include "report/CStatsMerger.h"

int CReportCommand::Run(int argc, char** argv)
{
    std::vector<std::string> files;
    std::string strOutput;
    CLI::App app{"Makes one HTML report of the --stats-json files of a fleet run's shards.",
                 std::string("tovrik-cli ") + kName};
    app.allow_windows_style_options(false);
    app.add_option("files", files, "The stats files, one per shard")->required()->type_name("STATS.json");
    app.add_option("-o,--output", strOutput, "The report to write")->required()->type_name("REPORT.html");
    try {
        // The command's name is not one of its arguments.
        app.parse(argc - 1, argv + 1);
    } catch (const CLI::ParseError& e) {
        const int nExit = app.exit(e);
        return nExit == 0 ? CCliOptions::kExitOk : CCliOptions::kExitUsage;
    }
    // The same file by another path (a link, "./") would be overwritten
    // just the same.
    for (const std::string& strFile : files) {
        if (strFile == strOutput || CFileWriter::IsSameFile(strFile, strOutput)) {
            CRunPrinter::Say("the report would overwrite its own stats file " + strFile);
            return CCliOptions::kExitUsage;
        }
    }

    CStatsMerger merger;
    CRunReport report;
    for (const std::string& strFile : files) {
        const CStatus added = merger.AddFile(strFile);
        if (!added.IsOk()) {
            CRunPrinter::Say(added.Message());
            return CCliOptions::kExitLoad;
        }
    }
    const CStatus merged = merger.Merge(report);
    if (!merged.IsOk()) {
        CRunPrinter::Say(merged.Message());
        return CCliOptions::kExitLoad;
    }
    const CStatus written = CHtmlReport::Write(strOutput, report);
    if (!written.IsOk()) {
        CRunPrinter::Say("cannot write " + strOutput + ": " + written.Message());
        return CCliOptions::kExitFailure;
    }
    CRunPrinter::Say("report of " + std::to_string(report.shards.size()) +
        (report.shards.size() == 1 ? " stats file, " : " stats files, ") + std::to_string(report.series.size()) +
        " seconds: " + strOutput);
    return CCliOptions::kExitOk;
}
