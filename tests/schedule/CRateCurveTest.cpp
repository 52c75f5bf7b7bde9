#include <gtest/gtest.h>

#include "schedule/CRateCurve.h"

namespace {

constexpr int64_t kS = 1000000000;

}  // namespace

// What the curve has owed by an instant, and the instant by which it has
// owed a number: on a constant rate, a straight ramp, a step and a pause.
TEST(CRateCurveTest, WhatItOwesAndWhen)
{
    CRateCurve constant(100);
    EXPECT_EQ(constant.When(10), kS / 10);
    EXPECT_EQ(constant.When(400), 4 * kS);
    EXPECT_DOUBLE_EQ(constant.Between(0, 2 * kS), 200);
    EXPECT_DOUBLE_EQ(constant.Owed(kS / 2), 50);

    // From 0 at the start to 100/s at 10 s: 5 t^2 datagrams by t.
    CRateCurve ramp(0);
    ASSERT_TRUE(ramp.AddPoint(10 * kS, 100));
    EXPECT_NEAR(ramp.Owed(10 * kS), 500, 1e-9);
    EXPECT_NEAR(ramp.Owed(5 * kS), 125, 1e-9);
    EXPECT_NEAR(static_cast<double>(ramp.When(125)), 5.0 * kS, 2);
    EXPECT_NEAR(static_cast<double>(ramp.When(500)), 10.0 * kS, 2);
    EXPECT_DOUBLE_EQ(ramp.RateAt(5 * kS), 50);
    EXPECT_EQ(ramp.When(600), 11 * kS) << "the last point's rate holds after it";

    // 100/s, then 200/s from 5 s: a step owes nothing twice.
    CRateCurve step(100);
    ASSERT_TRUE(step.Step(5 * kS, 200));
    EXPECT_EQ(step.When(700), 6 * kS);
    EXPECT_EQ(step.When(500), 5 * kS);
    EXPECT_DOUBLE_EQ(step.RateAt(5 * kS), 200);
    EXPECT_DOUBLE_EQ(step.RateAt(5 * kS - 1), 100);
    EXPECT_NEAR(step.Between(4 * kS, 6 * kS), 300, 1e-9);

    CRateCurve pause(10);
    ASSERT_TRUE(pause.Step(kS, 0));
    EXPECT_EQ(pause.When(5), kS / 2);
    EXPECT_EQ(pause.When(20), CRateCurve::kNever) << "owed only 10 before the rate stops for good";
    ASSERT_TRUE(pause.Step(3 * kS, 10));
    EXPECT_EQ(pause.When(20), 4 * kS) << "and again once it goes on";
    EXPECT_DOUBLE_EQ(pause.Owed(2 * kS), 10);
}
