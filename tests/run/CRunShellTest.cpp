#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "NoStop.h"
#include "TempDir.h"
#include "run/CRunShell.h"
#include "time/CCalendar.h"

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

// With --abort-on-fail the first window that crosses a threshold ends the
// run: its Wait returns at once, and the crossing is kept.
TEST(CRunShellTest, TheFirstWindowThatCrossesEndsTheRun)
{
    CRunOutputs outputs;
    outputs.bAbortOnFail = true;
    CThreshold threshold;
    ASSERT_TRUE(CThreshold::Parse("errors<=2", threshold).IsOk());
    outputs.thresholds = {threshold};
    CRunShell shell(outputs);
    CNoStop stop;
    shell.Start(stop);
    EXPECT_FALSE(shell.JudgeWindow({{"errors", 2}}, 4, 10));
    EXPECT_TRUE(shell.JudgeWindow({{"errors", 3}}, 5, 10));
    EXPECT_TRUE(shell.JudgeWindow({{"errors", 9}}, 6, 10)) << "aborted once, for good";
    ASSERT_TRUE(shell.Aborted().has_value());
    EXPECT_EQ(shell.Aborted()->nSecond, 5u);
    EXPECT_EQ(shell.Aborted()->verdict.value, 3.0);
    EXPECT_EQ(shell.Aborted()->nUnixMs, shell.StartUnixMs() + 5000);
    shell.Wait([] { return false; }, {});
    EXPECT_LT(shell.Seconds(), 1.0) << "an aborted run's wait ends at once";
}

// A run told to start at an instant waits for it, a second at most at a
// time so that a clock set meanwhile is followed; a stop request during
// that wait ends the run before it starts.
TEST(CRunShellTest, ARunStartsAtItsInstantUnlessStoppedBefore)
{
    class CCountingStop : public CStopSource {
    public:
        explicit CCountingStop(bool bStop) : m_bStop(bStop) {}
        bool Wait(int nMilliseconds) override
        {
            m_waits.push_back(nMilliseconds);
            return m_bStop || m_noStop.Wait(nMilliseconds);
        }
        std::vector<int> m_waits;

    private:
        const bool m_bStop;
        CNoStop m_noStop;
    };
    const int64_t nAt = CCalendar::NowUnixMs() + 1300;
    CCountingStop wait(false);
    CRunShell shell{CRunOutputs()};
    EXPECT_TRUE(shell.Start(wait, nAt));
    EXPECT_GE(shell.StartUnixMs(), nAt);
    ASSERT_GE(wait.m_waits.size(), 2u);
    EXPECT_EQ(wait.m_waits.front(), 1000) << "a second at most at a time";

    CCountingStop stop(true);
    CRunOutputs outputs;
    outputs.dStopAfter = 60;
    CRunShell stopped(outputs);
    EXPECT_FALSE(stopped.Start(stop, CCalendar::NowUnixMs() + 60000));
    EXPECT_EQ(stop.m_waits.size(), 1u);
    stopped.Wait([] { return false; }, {});
    EXPECT_LT(stopped.Seconds(), 1.0) << "a run stopped before its start has ended";
    EXPECT_TRUE(stopped.Start(stop, CCalendar::NowUnixMs() - 5000)) << "an instant passed: at once";
}
