#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fleet/CFleetStats.h"

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
