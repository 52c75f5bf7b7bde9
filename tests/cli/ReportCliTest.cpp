#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TempDir.h"
#include "cli/CliProcess.h"
#include "report/StatsFileText.h"

namespace {

constexpr int64_t kStartMs = 1796724000000;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(ReportCliTest, MergesShardsFilesIntoOneReport)
{
    const TempDir dir;
    const std::string strA = dir.Write("分片0.json", StatsJson("0/2", kStartMs, {{10, 0.1, 0.2}, {10, 0.1, 0.2}}, "[1000,1001,20]"));
    const std::string strB = dir.Write("b.json", StatsJson("1/2", kStartMs + 1000, {{5, 0.1, 0.2}, {5, 0.1, 0.2}}, "[1000,1001,10]"));
    const std::string strOut = dir.Path() + "/报告.html";
    const CliRun run = CliProcess::Run({"report", strA, strB, "-o", strOut});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "report of 2 stats files, 3 seconds: " + strOut)) << run.err;
    const std::string strHtml = TempDir::Read(strOut);
    EXPECT_EQ(strHtml.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_TRUE(Contains(strHtml, "分片0.json")) << strHtml.substr(0, 2000);
    EXPECT_TRUE(Contains(strHtml, "<td>100 of a fleet of 100</td>"));
    EXPECT_TRUE(Contains(strHtml, "<td>30 (10.0 per second)</td>"));
}

TEST(ReportCliTest, BadInputNamesTheFileAndBadUseIsAUsageError)
{
    const TempDir dir;
    const std::string strGood = dir.Write("good.json", StatsJson("0/1", kStartMs, {{1, 0, 0}}, ""));
    const std::string strNotStats = dir.Write("other.json", "{\"hello\":1}");
    const std::string strOut = dir.Path() + "/r.html";

    CliRun run = CliProcess::Run({"report", strGood, dir.Path() + "/missing.json", "-o", strOut});
    EXPECT_EQ(run.nExit, 2);
    EXPECT_TRUE(Contains(run.err, dir.Path() + "/missing.json: ")) << run.err;
    run = CliProcess::Run({"report", strNotStats, "-o", strOut});
    EXPECT_EQ(run.nExit, 2);
    EXPECT_TRUE(Contains(run.err, strNotStats + ": not a stats file (no \"devices\")")) << run.err;
    EXPECT_EQ(TempDir::ReadOrMissing(strOut), "<missing>");

    run = CliProcess::Run({"report", strGood, "-o", dir.Path() + "/no/such/dir/r.html"});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(Contains(run.err, "cannot write " + dir.Path() + "/no/such/dir/r.html: ")) << run.err;

    // The output may not be one of the inputs, by whatever path or link.
    std::error_code error;
    std::filesystem::create_hard_link(strGood, dir.Path() + "/hard.json", error);
    std::vector<std::vector<std::string>> usage = {
        {"report"}, {"report", strGood}, {"report", "-o", strOut}, {"report", strGood, "-o", strOut, "--bogus"},
        {"report", strGood, "-o", strGood}, {"report", strGood, "-o", dir.Path() + "/./good.json"},
        {"report", strGood, "-o", dir.Path() + "/hard.json"}};
    if (CliProcess::SeesThroughSymbolicLinks()) {
        std::filesystem::create_symlink(strGood, dir.Path() + "/soft.json", error);
        usage.push_back({"report", strGood, "-o", dir.Path() + "/soft.json"});
    }
    for (const std::vector<std::string>& args : usage) {
        run = CliProcess::Run(args);
        EXPECT_EQ(run.nExit, 64) << args.size() << run.err;
    }
    EXPECT_EQ(TempDir::Read(strGood).rfind("{\"devices\"", 0), 0u);
    run = CliProcess::Run({"report", "--help"});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_TRUE(Contains(run.out, "-o,--output")) << run.out;
}

TEST(ReportCliTest, ThresholdsGiveOneVerdictOnTheMergedShardsAndABaselineIsCompared)
{
    const TempDir dir;
    const std::string strA = dir.Write("a.json", StatsJson("0/2", kStartMs, {{10, 0.1, 0.2}}, "[1000,1001,10]"));
    const std::string strB = dir.Write("b.json", StatsJson("1/2", kStartMs, {{10, 0.1, 0.2}}, "[1000,1001,10]"));
    const std::string strOld = dir.Write("old.json", StatsJson("0/1", kStartMs - 86400000, {{16, 0.1, 0.2}}, "[1000,1001,16]"));
    const std::string strOut = dir.Path() + "/r.html";
    // One send error in each shard: two in the fleet.
    CliRun run = CliProcess::Run({"report", strA, strB, "-o", strOut, "--threshold", "errors<=1", "--threshold",
                                  "sent>=20", "--baseline", strOld});
    EXPECT_EQ(run.nExit, 3) << run.err;
    EXPECT_TRUE(Contains(run.out, "threshold errors<=1: 2 crossed")) << run.out;
    EXPECT_TRUE(Contains(run.out, "threshold sent>=20: 20 ok")) << run.out;
    std::string strHtml = TempDir::Read(strOut);
    EXPECT_TRUE(Contains(strHtml, "all files merged"));
    EXPECT_TRUE(Contains(strHtml, "<tr><td>datagrams sent</td><td>20</td><td>16</td><td>+25.0 %</td></tr>"));
    EXPECT_TRUE(Contains(strHtml, "<tr><td>send errors</td><td>2</td><td>1</td><td>+100.0 % (worse)</td></tr>"));

    run = CliProcess::Run({"report", strA, strB, "-o", strOut, "--threshold", "errors<=2"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"report", strA, "-o", strOut, "--threshold", "bogus<1"},
          {"report", strA, "-o", strOut, "--baseline", strOut}}) {
        run = CliProcess::Run(args);
        EXPECT_EQ(run.nExit, 64) << run.err;
    }
    run = CliProcess::Run({"report", strA, "-o", strOut, "--baseline", dir.Path() + "/missing.json"});
    EXPECT_EQ(run.nExit, 2);
    EXPECT_TRUE(Contains(run.err, "baseline: " + dir.Path() + "/missing.json")) << run.err;
}
