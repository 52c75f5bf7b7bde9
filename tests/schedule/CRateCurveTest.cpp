#include <gtest/gtest.h>

#include "schedule/CRateCurve.h"

namespace {

constexpr int64_t kS = 1000000000;

}  // namespace

// The instant by which a share of datagrams has been owed, on a constant
// rate, a straight ramp and a step; a rate that stays at 0 owes nothing.
TEST(CRateCurveTest, AfterFindsWhereTheRateHasOwedTheShare)
{
    CRateCurve constant(100);
    EXPECT_EQ(constant.After(0, 10), kS / 10);
    EXPECT_EQ(constant.After(3 * kS, 100), 4 * kS);
    EXPECT_DOUBLE_EQ(constant.Between(0, 2 * kS), 200);

    // From 0 at the start to 100/s at 10 s: 5 t^2 datagrams by t.
    CRateCurve ramp(0);
    ASSERT_TRUE(ramp.AddPoint(10 * kS, 100));
    EXPECT_NEAR(ramp.Between(0, 10 * kS), 500, 1e-9);
    EXPECT_NEAR(static_cast<double>(ramp.After(0, 125)), 5.0 * kS, 2);
    EXPECT_NEAR(static_cast<double>(ramp.After(0, 500)), 10.0 * kS, 2);
    EXPECT_DOUBLE_EQ(ramp.RateAt(5 * kS), 50);
    EXPECT_EQ(ramp.After(12 * kS, 100), 13 * kS) << "the last point's rate holds after it";

    // 100/s, then 200/s from 5 s: a step owes nothing twice.
    CRateCurve step(100);
    ASSERT_TRUE(step.Step(5 * kS, 200));
    EXPECT_EQ(step.After(4 * kS, 300), 6 * kS);
    EXPECT_DOUBLE_EQ(step.RateAt(5 * kS), 200);
    EXPECT_DOUBLE_EQ(step.RateAt(5 * kS - 1), 100);
    EXPECT_NEAR(step.Between(4 * kS, 6 * kS), 300, 1e-9);

    CRateCurve pause(10);
    ASSERT_TRUE(pause.Step(kS, 0));
    EXPECT_EQ(pause.After(0, 5), kS / 2);
    EXPECT_EQ(pause.After(0, 20), CRateCurve::kNever) << "owed only 10 before the rate stops for good";
    ASSERT_TRUE(pause.Step(3 * kS, 10));
    EXPECT_EQ(pause.After(0, 20), 4 * kS) << "and again once it goes on";
}
