#include <gtest/gtest.h>

#include <string>

#include "verdict/CThreshold.h"

namespace {

CThreshold::Figures SomeFigures()
{
    CRunRecord record;
    record.nSent = 200;
    record.nErrors = 3;
    record.nReplies = 198;
    record.lateness.dP50Ms = 0.25;
    record.lateness.dP99Ms = 5.0;
    record.lateness.dMaxMs = 1200.0;
    return CThreshold::FleetFigures(record);
}

struct GoodCase {
    const char* pszExpression;
    double dValue;  // measured on SomeFigures
    bool bOk;
};

}  // namespace

TEST(CThresholdTest, ReadsEachMetricOperatorAndUnitAndJudgesTheFigures)
{
    const GoodCase cases[] = {
        {"late_p99<=5ms", 5.0, true},      {"late_p99<5ms", 5.0, false},     {"late_p99<=5000us", 5.0, true},
        {"late_p99<4999999ns", 5.0, false}, {"late_max>1s", 1200.0, true},   {"late_max>=1.2s", 1200.0, true},
        {"late_p50==0.25ms", 0.25, true},  {"late_p50!=0.25ms", 0.25, false}, {"errors==0", 3, false},
        {"errors<=3", 3, true},            {"errors!=0", 3, true},           {"sent>199", 200, true},
        {"sent>=201", 200, false},         {"replies>=0.99", 0.99, true},    {"replies>99%", 0.99, false},
        {"replies>=99%", 0.99, true},
    };
    for (const GoodCase& c : cases) {
        CThreshold threshold;
        ASSERT_TRUE(CThreshold::Parse(c.pszExpression, threshold).IsOk()) << c.pszExpression;
        const double dValue = threshold.Measure(SomeFigures());
        EXPECT_DOUBLE_EQ(dValue, c.dValue) << c.pszExpression;
        EXPECT_EQ(threshold.Holds(dValue), c.bOk) << c.pszExpression;
        EXPECT_EQ(threshold.Expression(), c.pszExpression);
    }
}

TEST(CThresholdTest, RefusesBadExpressionsNamingThem)
{
    // Unknown metric, bad operator, bad number, missing or wrong unit.
    for (const char* pszBad : {"", "late_p95<=5ms", "Errors==0", "errors=0", "errors=>0", "errors<>0", "errors==",
                               "errors==-1", "errors==1e3", "errors==.5", "errors==5.", "late_p99<=5", "late_p99<=5m",
                               "late_p99<=5 ms", "late_p99<=5%", "errors==0ms", "sent>=5%", "replies>=0.99x",
                               "errors==0 ", " errors==0", "replies>=inf"}) {
        CThreshold threshold;
        const CStatus status = CThreshold::Parse(pszBad, threshold);
        EXPECT_FALSE(status.IsOk()) << pszBad;
        EXPECT_NE(status.Message().find("'" + std::string(pszBad) + "'"), std::string::npos) << status.Message();
    }
}

TEST(CThresholdTest, RepliesWithNothingSentAreNoneAndTheLineSaysTheVerdict)
{
    CThreshold threshold;
    ASSERT_TRUE(CThreshold::Parse("replies>=0.5", threshold).IsOk());
    EXPECT_EQ(threshold.Measure(CThreshold::FleetFigures(CRunRecord())), 0.0);
    EXPECT_EQ(threshold.Line(0.0), "threshold replies>=0.5: 0.0000 crossed");
    ASSERT_TRUE(CThreshold::Parse("late_p99<=5ms", threshold).IsOk());
    EXPECT_EQ(threshold.Line(0.4124), "threshold late_p99<=5ms: 0.412 ms ok");
    ASSERT_TRUE(CThreshold::Parse("errors==0", threshold).IsOk());
    EXPECT_EQ(threshold.Line(2), "threshold errors==0: 2 crossed");
}
