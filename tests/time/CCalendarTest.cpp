#include <gtest/gtest.h>

#include <string>

#include "time/CCalendar.h"

TEST(CCalendarTest, InstantsReadInEveryFormAndTheirMillisecondsAgree)
{
    constexpr int64_t kNoon = 1796904000000;  // 2026-12-10T12:00:00Z
    constexpr int64_t kNow = 1700000000123;
    const struct {
        const char* pszText;
        int64_t nUnixMs;
    } good[] = {
        {"2026-12-10T12:00:00Z", kNoon},
        {"2026-12-10t12:00:00z", kNoon},
        {"2026-12-10 13:30:00.25+01:30", kNoon + 250},
        {"2026-12-10T07:00:00.9999-05:00", kNoon + 999},
        {"2016-12-31T23:59:60Z", 1483228800000},
        {"2024-02-29T00:00:00Z", 1709164800000},
        {"1970-01-01T00:00:00Z", 0},
        {"1796904000", kNoon},
        {"1796904000.5", kNoon + 500},
        {"+30", kNow + 30000},
        {"+2min", kNow + 120000},
        {"+0.5", kNow + 500},
    };
    for (const auto& c : good) {
        int64_t nUnixMs = -1;
        EXPECT_TRUE(CCalendar::ReadInstant(c.pszText, kNow, nUnixMs)) << c.pszText;
        EXPECT_EQ(nUnixMs, c.nUnixMs) << c.pszText;
    }
    for (const char* pszText :
         {"", "+", "-30", "+-1", "+1y", "2026-13-01T00:00:00Z", "2026-02-29T00:00:00Z", "2026-12-10T24:00:00Z",
          "2026-12-10T12:00:00", "2026-12-10T12:00Z", "2026-12-10T12:00:00+0100", "2026-12-10T12:00:00.Z",
          "2026-12-10T12:00:00Z ", "1969-12-31T23:59:59Z", "1970-01-01T00:30:00+01:00", "17969O4000", "1796904000.",
          "99999999999999999999", "1e9"}) {
        int64_t nUnixMs = 0;
        EXPECT_FALSE(CCalendar::ReadInstant(pszText, kNow, nUnixMs)) << pszText;
    }
}
