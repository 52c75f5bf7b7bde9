#include "cli/CReportCommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/CCliOptions.h"
#include "cli/CRunConsole.h"
#include "report/CFileWriter.h"
#include "report/CHtmlReport.h"
#include "report/CStatsMerger.h"
#include "verdict/CCapacityVerdict.h"
#include "verdict/CThreshold.h"

CStatus CReportCommand::Merge(const std::vector<std::string>& files, CRunReport& report)
{
    CStatsMerger merger;
    for (const std::string& strFile : files) {
        const CStatus added = merger.AddFile(strFile);
        if (!added.IsOk())
            return added;
    }
    return merger.Merge(report);
}

int CReportCommand::Run(int argc, char** argv)
{
    std::vector<std::string> files;
    std::vector<std::string> baselineFiles;
    std::vector<std::string> thresholdTexts;
    std::string strOutput;
    CLI::App app{"Makes one HTML report of the --stats-json files of a fleet run's shards.",
                 std::string("tovrik-cli ") + kName};
    app.allow_windows_style_options(false);
    app.add_option("files", files, "The stats files, one per shard")->required()->type_name("STATS.json");
    app.add_option("-o,--output", strOutput, "The report to write")->required()->type_name("REPORT.html");
    app.add_option("--threshold", thresholdTexts,
                   "Pass/fail rule judged on the merged figures, e.g. rtt_p99<50ms (repeatable; any crossed: exit "
                   "code 3)")
        ->allow_extra_args(false);
    app.add_option("--baseline", baselineFiles,
                   "A stats file of an earlier run to compare with (repeatable, one per shard)")
        ->allow_extra_args(false)
        ->type_name("STATS.json");
    try {
        // The command's name is not one of its arguments.
        app.parse(argc - 1, argv + 1);
    } catch (const CLI::ParseError& e) {
        const int nExit = app.exit(e);
        return nExit == 0 ? CCliOptions::kExitOk : CCliOptions::kExitUsage;
    }
    std::vector<CThreshold> thresholds;
    for (const std::string& strThreshold : thresholdTexts) {
        CThreshold threshold;
        const CStatus parsed = CThreshold::Parse(strThreshold, threshold);
        if (!parsed.IsOk()) {
            CRunConsole::Say("--threshold: " + parsed.Message());
            return CCliOptions::kExitUsage;
        }
        thresholds.push_back(threshold);
    }
    // The same file by another path (a link, "./") would be overwritten
    // just the same.
    std::vector<std::string> inputs = files;
    inputs.insert(inputs.end(), baselineFiles.begin(), baselineFiles.end());
    for (const std::string& strFile : inputs) {
        if (strFile == strOutput || CFileWriter::IsSameFile(strFile, strOutput)) {
            CRunConsole::Say("the report would overwrite its own stats file " + strFile);
            return CCliOptions::kExitUsage;
        }
    }

    CRunReport report;
    CStatus merged = Merge(files, report);
    if (merged.IsOk() && !baselineFiles.empty()) {
        auto pBaseline = std::make_shared<CRunReport>();
        merged = Merge(baselineFiles, *pBaseline);
        if (!merged.IsOk())
            merged = CStatus::Error("baseline: " + merged.Message());
        report.pBaseline = std::move(pBaseline);
    }
    if (!merged.IsOk()) {
        CRunConsole::Say(merged.Message());
        return CCliOptions::kExitLoad;
    }
    bool bCrossed = false;
    if (!thresholds.empty()) {
        bCrossed = CStatsMerger::Judge(thresholds, report);
        if (report.capacity) {
            std::printf("%s\n", CCapacityVerdict::Sentence(*report.capacity).c_str());
            std::fflush(stdout);
        }
    }
    CStatus written = CHtmlReport::Write(strOutput, report);
    if (!written.IsOk())
        written = CStatus::Error("cannot write " + strOutput + ": " + written.Message(), written.Code());
    else
        CRunConsole::Say("report of " + std::to_string(report.shards.size()) +
                         (report.shards.size() == 1 ? " stats file, " : " stats files, ") +
                         std::to_string(report.series.size()) + " seconds: " + strOutput);
    return CRunConsole::Finished(report.capacity ? std::vector<CThreshold>() : thresholds, report.mergedVerdicts,
                                 written, bCrossed);
}
