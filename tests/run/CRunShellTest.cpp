#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "NoStop.h"
#include "TempDir.h"
#include "run/CRunShell.h"

namespace {

CStatus Page(const std::string& strJson, std::string& strHtml)
{
    strHtml = "<p>" + strJson + "</p>";
    return CStatus();
}

}  // namespace

// What every kind of run does around its own work: its files are checked
// before it starts and written however it ends, each failure naming its
// file; its thresholds are judged; it ends at its time limit.
TEST(CRunShellTest, FilesAreCheckedAndWrittenAndThresholdsJudged)
{
    TempDir dir;
    CRunOutputs outputs;
    outputs.strStatsJson = dir.Path() + "/stats.json";
    outputs.strReport = dir.Path() + "/report.html";
    outputs.dStopAfter = 0.05;
    CThreshold threshold;
    ASSERT_TRUE(CThreshold::Parse("sent>=2", threshold).IsOk());
    outputs.thresholds = {threshold, threshold};
    CRunShell shell(outputs);
    ASSERT_TRUE(shell.CheckFiles().IsOk());
    EXPECT_FALSE(std::filesystem::exists(*outputs.strStatsJson)) << "checking leaves no file behind";

    CNoStop stop;
    shell.Start(stop);
    shell.Wait([] { return false; }, {});
    EXPECT_GE(shell.Seconds(), 0.05) << "its time limit ends it";
    std::vector<CVerdict> verdicts;
    EXPECT_TRUE(shell.Judge({{"sent", 1}}, verdicts));
    ASSERT_EQ(verdicts.size(), 2u);
    EXPECT_FALSE(verdicts[0].bOk);
    ASSERT_TRUE(shell.Write("{\"sent\":1}\n", Page).IsOk());
    EXPECT_EQ(TempDir::Read(*outputs.strStatsJson), "{\"sent\":1}\n");
    EXPECT_EQ(TempDir::Read(*outputs.strReport), "<p>{\"sent\":1}\n</p>");

    outputs.strStatsJson = dir.Path() + "/missing/stats.json";
    outputs.strReport = dir.Path() + "/missing/report.html";
    const CRunShell unwritable(outputs);
    EXPECT_EQ(unwritable.CheckFiles().Message().rfind("cannot write " + *outputs.strStatsJson + ": ", 0), 0u);
    const CStatus written = unwritable.Write("{}", Page);
    EXPECT_NE(written.Message().find("cannot write " + *outputs.strStatsJson), std::string::npos);
    EXPECT_NE(written.Message().find("; cannot write " + *outputs.strReport), std::string::npos)
        << "each file is tried: " << written.Message();
}
