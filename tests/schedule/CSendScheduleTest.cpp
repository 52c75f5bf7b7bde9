#include <gtest/gtest.h>

#include <vector>

#include "TzGuard.h"
#include "schedule/CSendSchedule.h"
#include "schedule/SendModes.h"

namespace {

// 2026-12-08 10:00:00 UTC: a whole hour, minute and ten seconds.
constexpr int64_t kT0 = 1796724000;

class CSendScheduleTest : public ::testing::Test {
protected:
    CSendScheduleTest() : m_tz("UTC0") {}
    TzGuard m_tz;
};

}  // namespace

TEST_F(CSendScheduleTest, TimedModesFindTheSecondTheWorkerWouldSendAt)
{
    // The first send of a run (last send 0), then the next after one at kT0.
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEverySecond, kT0 + 3, 0), kT0 + 3);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEverySecond, kT0, kT0), kT0 + 1);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryTenSeconds, kT0 + 3, 0), kT0 + 10);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryTenSeconds, kT0 + 1, kT0), kT0 + 10);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryMinute, kT0 + 1, 0), kT0 + 60);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryHour, kT0 + 1, 0), kT0 + 3600);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryHour, kT0, kT0), kT0 + 3600);
    // A clock set back: the second modes wait until the last send is
    // passed, the minute mode sends at the next whole minute from it.
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEverySecond, kT0 - 300, kT0), kT0 + 1);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryTenSeconds, kT0 - 300, kT0 + 3), kT0 + 13);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryMinute, kT0 - 290, kT0), kT0 - 240);
    for (const int64_t nSecond : {kT0 - 240, kT0 + 60})
        EXPECT_TRUE(CSendSchedule::IsDue(SendModes::kEveryMinute, nSecond, kT0));
    EXPECT_FALSE(CSendSchedule::IsDue(SendModes::kEveryMinute, kT0, kT0));
    EXPECT_FALSE(CSendSchedule::IsDue(SendModes::kEverySecond, kT0 - 1, kT0));
}

TEST_F(CSendScheduleTest, TheHourModeKeepsToTheLocalHourInAHalfHourZone)
{
    const TzGuard zone("IST-5:30");
    EXPECT_EQ(CSendSchedule::ZoneOffset(kT0), 5 * 3600 + 30 * 60);
    // 10:00 UTC is 15:30 local: the next whole local hour is 16:00.
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryHour, kT0, 0), kT0 + 1800);
    EXPECT_EQ(CSendSchedule::NextDueSecond(SendModes::kEveryHour, kT0 + 1800, kT0 + 1800), kT0 + 5400);
    EXPECT_TRUE(CSendSchedule::IsDue(SendModes::kEveryHour, kT0 - 1800, kT0 + 1800)) << "set back onto 15:00";
    EXPECT_FALSE(CSendSchedule::IsDue(SendModes::kEveryHour, kT0, 0));
}

TEST_F(CSendScheduleTest, SpreadPlacesDeviceKAtKOverNOfThePeriod)
{
    EXPECT_EQ(CSendSchedule::SpreadOffsetNs(SendModes::kEverySecond, 1, 10000), 100000);
    EXPECT_EQ(CSendSchedule::SpreadOffsetNs(SendModes::kEverySecond, 9999, 10000), 999900000);
    EXPECT_EQ(CSendSchedule::SpreadOffsetNs(SendModes::kEveryHour, 999999, 1000000), 3599996400000);
    EXPECT_EQ(CSendSchedule::SpreadOffsetNs(SendModes::kEvery10Ms, 3, 4), 7500000);
    EXPECT_EQ(CSendSchedule::SpreadOffsetNs(SendModes::kReplay, 1, 2), 500000000);
}

TEST_F(CSendScheduleTest, ReplayFindsTheNextSecondOfTheDayWithAMessage)
{
    const std::vector<int64_t> keys = {-5, 36000, 36010, 90000};
    // kT0 is 10:00:00: 36000 now, 36010 ten seconds on, then tomorrow.
    EXPECT_EQ(CSendSchedule::NextReplaySecond(keys.data(), keys.size(), kT0), kT0);
    EXPECT_EQ(CSendSchedule::NextReplaySecond(keys.data(), keys.size(), kT0 + 1), kT0 + 10);
    EXPECT_EQ(CSendSchedule::NextReplaySecond(keys.data(), keys.size(), kT0 + 11), kT0 + 86400);
    const std::vector<int64_t> none = {-3661, 86400};
    EXPECT_EQ(CSendSchedule::NextReplaySecond(none.data(), none.size(), kT0), CSendSchedule::kNever);
}
