#include <gtest/gtest.h>

#include <vector>

#include "figures/CWindowFigures.h"
#include "verdict/CThreshold.h"

namespace {

// A second of made-up figures: sends, each lateness and round trip.
CWindowFigures::Second MadeUp(uint64_t nT, uint64_t nSent, const std::vector<int64_t>& latenessNs,
                              const std::vector<int64_t>& rttNs, uint64_t nLost)
{
    CLatencyHistogram lateness;
    CLatencyHistogram rtt;
    for (const int64_t nNs : latenessNs)
        lateness.Add(nNs);
    for (const int64_t nNs : rttNs)
        rtt.Add(nNs);
    CWindowFigures::Second second;
    second.figures.nT = nT;
    second.figures.nSent = nSent;
    second.figures.replies.nMatched = rttNs.size();
    second.figures.replies.nLost = nLost;
    second.figures.lateness = lateness.Take(&second.lateness);
    second.figures.rtt = rtt.Take(&second.rtt);
    second.faults.counts[CFaultCounts::kLoss] = nT;
    return second;
}

double Judged(const CWindowFigures& window, const char* pszRule, bool& bOk)
{
    CThreshold threshold;
    EXPECT_TRUE(CThreshold::Parse(pszRule, threshold).IsOk()) << pszRule;
    const CVerdict verdict = threshold.Judge(CThreshold::FleetFigures(window.Record(true, true)));
    bOk = verdict.bOk;
    return verdict.value.value_or(-1);
}

}  // namespace

// The last seconds' figures summed and their durations merged, judged as
// the whole run's are: a slow second crosses a round-trip rule while it is
// in the window and not after; a window without replies has no round trip.
TEST(CWindowFiguresTest, TheWindowsFiguresAreItsSecondsMerged)
{
    CWindowFigures window;
    bool bOk = false;
    for (uint64_t t = 1; t <= 3; ++t)
        window.Add(MadeUp(t, 100, {1000000}, std::vector<int64_t>(99, 20000000), 1));
    EXPECT_EQ(window.Record(true, true).nSent, 300u);
    EXPECT_NEAR(Judged(window, "rtt_p99<=50ms", bOk), 20.0, 20.0 * 0.07);
    EXPECT_TRUE(bOk);
    EXPECT_DOUBLE_EQ(Judged(window, "reply_loss<=1%", bOk), 3.0 / 300);
    EXPECT_TRUE(bOk);
    EXPECT_DOUBLE_EQ(Judged(window, "faults_loss==6", bOk), 6);

    // A slow second: 30 of its replies at 80 ms, a tenth of the window's.
    window.Add(MadeUp(4, 100, {1000000}, std::vector<int64_t>(30, 80000000), 0));
    window.KeepFrom(2);
    EXPECT_EQ(window.Seconds(), 3u);
    EXPECT_NEAR(Judged(window, "rtt_p99<=50ms", bOk), 80.0, 80.0 * 0.07);
    EXPECT_FALSE(bOk);
    for (uint64_t t = 5; t <= 7; ++t)
        window.Add(MadeUp(t, 100, {}, {}, 100));
    window.KeepFrom(5);
    EXPECT_EQ(Judged(window, "rtt_p99<=50ms", bOk), -1) << "no replies, no round trip";
    EXPECT_FALSE(bOk);
    EXPECT_DOUBLE_EQ(Judged(window, "reply_loss<=1%", bOk), 1.0);
    EXPECT_EQ(Judged(window, "late_p99<=1ms", bOk), -1) << "no lateness measured in these seconds";
}
