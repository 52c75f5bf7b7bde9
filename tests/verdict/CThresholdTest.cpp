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
    record.lateness.nCount = 200;
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
        const std::optional<double> value = threshold.Measure(SomeFigures());
        ASSERT_TRUE(value.has_value()) << c.pszExpression;
        EXPECT_DOUBLE_EQ(*value, c.dValue) << c.pszExpression;
        EXPECT_EQ(threshold.Holds(value), c.bOk) << c.pszExpression;
        EXPECT_EQ(threshold.Expression(), c.pszExpression);
    }
}

TEST(CThresholdTest, RefusesBadExpressionsNamingThem)
{
    // Unknown metric, bad operator, bad number, missing or wrong unit.
    for (const char* pszBad : {"", "late_p95<=5ms", "Errors==0", "errors=0", "errors=>0", "errors<>0", "errors==",
                               "errors==-1", "errors==1e3", "errors==.5", "errors==5.", "late_p99<=5", "late_p99<=5m",
                               "late_p99<=5 ms", "late_p99<=5%", "errors==0ms", "sent>=5%", "replies>=0.99x",
                               "errors==0 ", " errors==0", "replies>=inf", "reply_loss<=150%",
                               "reply_loss<=1.5"}) {
        CThreshold threshold;
        const CStatus status = CThreshold::Parse(pszBad, threshold);
        EXPECT_FALSE(status.IsOk()) << pszBad;
        EXPECT_NE(status.Message().find("'" + std::string(pszBad) + "'"), std::string::npos) << status.Message();
    }
}

// A figure with no samples in the run gives no evidence: its rule is
// crossed as "no data", whatever the operator, and the files say null.
TEST(CThresholdTest, AFigureWithoutSamplesIsCrossedAsNoData)
{
    CRunRecord record;
    record.replyMatching = CRunRecord::ReplyMatching();
    record.replyMatching->counts.nLost = 0;
    const CThreshold::Figures figures = CThreshold::FleetFigures(record);
    std::vector<CThreshold> thresholds(6);
    const char* expressions[] = {"replies>=0.5",  "rtt_p99<=50ms", "reply_loss<=1%",
                                 "late_max>=0ms", "rtt_max!=1s",   "errors==0"};
    for (size_t i = 0; i < thresholds.size(); ++i)
        ASSERT_TRUE(CThreshold::Parse(expressions[i], thresholds[i]).IsOk());
    std::vector<CVerdict> verdicts;
    EXPECT_TRUE(CThreshold::Judge(thresholds, figures, verdicts));
    for (size_t i = 0; i + 1 < thresholds.size(); ++i) {
        EXPECT_FALSE(verdicts[i].value.has_value()) << expressions[i];
        EXPECT_FALSE(verdicts[i].bOk) << expressions[i];
        EXPECT_EQ(thresholds[i].Line(verdicts[i]), std::string("threshold ") + expressions[i] + ": no data crossed");
    }
    EXPECT_TRUE(verdicts.back().bOk) << "a count of none is a count";
    std::string strJson;
    CVerdict::AppendJson(strJson, {verdicts[1]});
    EXPECT_EQ(strJson, "[{\"expression\":\"rtt_p99<=50ms\",\"value\":null,\"ok\":false}]");

    CThreshold threshold;
    ASSERT_TRUE(CThreshold::Parse("late_p99<=5ms", threshold).IsOk());
    EXPECT_EQ(threshold.Line({"late_p99<=5ms", 0.4124, true}), "threshold late_p99<=5ms: 0.412 ms ok");
    ASSERT_TRUE(CThreshold::Parse("errors==0", threshold).IsOk());
    EXPECT_EQ(threshold.Line({"errors==0", 2.0, false}), "threshold errors==0: 2 crossed");
}
