#include <gtest/gtest.h>

#include "TzGuard.h"
#include "time/CDateTime.h"

namespace {
const char kPattern[] = "%Y-%m-%d %H:%M:%S";
}

TEST(CDateTimeTest, SplitsAReadingInTheLocalZone)
{
    TzGuard tz("CST-8");
    const CDateTime value(1614751509);  // 2021-03-03 06:05:09 UTC
    ASSERT_TRUE(value.IsValid());
    EXPECT_EQ(value.Format(kPattern), "2021-03-03 14:05:09");
    EXPECT_EQ(value.Hour(), 14);
    EXPECT_EQ(value.Minute(), 5);
    EXPECT_EQ(value.Second(), 9);
}

TEST(CDateTimeTest, SameReadingGivesOtherFieldsInAnotherZone)
{
    TzGuard tz("UTC0");
    const CDateTime value(1614751509);
    EXPECT_EQ(value.Format(kPattern), "2021-03-03 06:05:09");
    EXPECT_EQ(value.Hour(), 6);
}

TEST(CDateTimeTest, MidnightHasHourZero)
{
    TzGuard tz("UTC0");
    const CDateTime value(1796688000);  // 2026-12-08 00:00:00 UTC
    EXPECT_EQ(value.Format(kPattern), "2026-12-08 00:00:00");
    EXPECT_EQ(value.Hour(), 0);
    EXPECT_EQ(value.Minute(), 0);
    EXPECT_EQ(value.Second(), 0);
}

TEST(CDateTimeTest, EveryValidValueFormatsToNineteenCharacters)
{
    TzGuard tz("CST-8");
    for (int64_t t = 0; t < 4000000000LL; t += 86399 * 37 + 13) {
        const std::string text = CDateTime(t).Format(kPattern);
        ASSERT_EQ(text.size(), 19u) << t;
    }
}

TEST(CDateTimeTest, UnrepresentableReadingsAreInvalid)
{
    TzGuard tz("UTC0");
    for (const int64_t t : {int64_t{-1}, int64_t{-86400}, int64_t{32535215999LL + 1}, INT64_MAX, INT64_MIN}) {
        const CDateTime value(t);
        EXPECT_FALSE(value.IsValid()) << t;
        EXPECT_EQ(value.Format(kPattern), "Invalid DateTime");
        EXPECT_EQ(value.Hour(), -1);
        EXPECT_EQ(value.Minute(), -1);
        EXPECT_EQ(value.Second(), -1);
    }
}

TEST(CDateTimeTest, OleDateCountsDaysFrom1899)
{
    TzGuard tz("UTC0");
    EXPECT_DOUBLE_EQ(CDateTime(0).Date(), 25569.0);
    EXPECT_DOUBLE_EQ(CDateTime(43200).Date(), 25569.5);
    // The last second of the widest reading still splits.
    EXPECT_TRUE(CDateTime(32535215999LL).IsValid());
    EXPECT_EQ(CDateTime(32535215999LL).Second(), 59);
}

TEST(CDateTimeTest, DefaultValueIsTheOleEpoch)
{
    const CDateTime value;
    EXPECT_TRUE(value.IsValid());
    EXPECT_EQ(value.Format(kPattern), "1899-12-30 00:00:00");
}
