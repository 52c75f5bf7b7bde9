#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "figures/CFleetStats.h"

TEST(CFleetStatsTest, EverySendCountsInExactlyOneSecondWhileSamplesAreTaken)
{
    CFleetStats stats;
    constexpr uint64_t kSends = 1000000;
    std::atomic<bool> bDone{false};
    std::thread sender([&] {
        for (uint64_t i = 0; i < kSends; ++i)
            stats.RecordSend(true, 1000000 + static_cast<int64_t>(i % 1000));
        bDone.store(true);
    });
    while (!bDone.load())
        stats.Sample();
    sender.join();
    stats.Sample();
    uint64_t nMeasured = 0;
    uint64_t nSent = 0;
    for (const CFleetStats::Second& second : stats.Series()) {
        nMeasured += second.lateness.nCount;
        nSent += second.nSent;
    }
    EXPECT_GT(stats.Series().size(), 2u);
    EXPECT_EQ(nMeasured, kSends);
    EXPECT_EQ(nSent, kSends);
    EXPECT_EQ(stats.Total().nCount, kSends);
    EXPECT_NEAR(stats.Total().dP50Ms, 1.0, 0.07);
}

TEST(CFleetStatsTest, FiguresSplitSentFromErrorsAndPercentilesFromTheMaximum)
{
    CFleetStats stats;
    // 990 datagrams 1 ms late, 10 that could not be sent 100 ms late.
    for (int i = 0; i < 990; ++i)
        stats.RecordSend(true, 1000000);
    for (int i = 0; i < 10; ++i)
        stats.RecordSend(false, 100000000);
    const CFleetStats::Second second = stats.Sample();
    EXPECT_EQ(second.nSent, 990u);
    EXPECT_EQ(second.nErrors, 10u);
    EXPECT_EQ(stats.Errors(), 10u);
    EXPECT_NEAR(second.lateness.dP50Ms, 1.0, 0.07);
    EXPECT_NEAR(second.lateness.dP99Ms, 1.0, 0.07) << "the 1 % late ones are above the 99th percentile";
    EXPECT_EQ(second.lateness.dMaxMs, 100.0);
}

// A bucket's middle may lie outside every duration it holds: a quantile never
// goes below the least duration seen nor above the greatest, live or read
// back from a file and merged.
TEST(CFleetStatsTest, QuantilesStayWithinTheDurationsSeen)
{
    CLatencyHistogram histogram;
    // 15 ms lies in the bucket [14.68, 15.20) ms, whose middle is 14.94 ms.
    for (int i = 0; i < 100; ++i)
        histogram.Add(15000000);
    const CLatencyHistogram::Figures live = histogram.Read();
    EXPECT_DOUBLE_EQ(live.dP50Ms, 15.0);
    EXPECT_DOUBLE_EQ(live.dP99Ms, 15.0);
    EXPECT_DOUBLE_EQ(live.dMinMs, 15.0);
    const CLatencyHistogram::Figures merged = CLatencyHistogram::Quantiles(histogram.Buckets(), 15.0, 15.1);
    EXPECT_DOUBLE_EQ(merged.dP50Ms, 15.0) << "kept at the least of the merged files";
    const CLatencyHistogram::Figures taken = histogram.Take();
    EXPECT_DOUBLE_EQ(taken.dP50Ms, 15.0);
    histogram.Add(16000000);
    EXPECT_DOUBLE_EQ(histogram.Take().dMinMs, 16.0) << "each Take's least is its own";
}
