#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "traffic/CGenerator.h"
#include "traffic/CRandom.h"

namespace {

constexpr uint64_t kSeed = 20261208;

CGenerator Generator(const std::string& strText)
{
    CGenerator generator;
    const CStatus read = CGenerator::Read(strText, generator);
    EXPECT_TRUE(read.IsOk()) << strText << ": " << read.Message();
    return generator;
}

struct Moments {
    double dMean = 0;
    double dSd = 0;
    double dLow = INFINITY;
    double dHigh = -INFINITY;
};

Moments Of(const std::vector<double>& values)
{
    Moments moments;
    for (const double d : values) {
        moments.dMean += d;
        moments.dLow = std::min(moments.dLow, d);
        moments.dHigh = std::max(moments.dHigh, d);
    }
    moments.dMean /= static_cast<double>(values.size());
    for (const double d : values)
        moments.dSd += (d - moments.dMean) * (d - moments.dMean);
    moments.dSd = std::sqrt(moments.dSd / static_cast<double>(values.size()));
    return moments;
}

// Device k's first nPackets values, its packets a second apart.
std::vector<double> Values(const CGenerator& generator, uint64_t k, size_t nPackets, uint32_t nRule = 0)
{
    std::vector<double> values;
    double dState = std::nan("");
    for (size_t i = 0; i < nPackets; ++i)
        values.push_back(generator.Value({kSeed, k, i}, nRule, static_cast<double>(i), &dState).dNumber);
    return values;
}

}  // namespace

TEST(CGeneratorTest, DistributionsHaveTheirMeansSpreadsAndBounds)
{
    const Moments uniform = Of(Values(Generator("uniform(10,20)"), 3, 20000));
    EXPECT_NEAR(uniform.dMean, 15.0, 0.1);
    EXPECT_NEAR(uniform.dSd, 10 / std::sqrt(12.0), 0.05);
    EXPECT_GE(uniform.dLow, 10.0);
    EXPECT_LT(uniform.dHigh, 20.0);

    const Moments normal = Of(Values(Generator("normal(40,2)"), 3, 20000));
    EXPECT_NEAR(normal.dMean, 40.0, 0.05);
    EXPECT_NEAR(normal.dSd, 2.0, 0.05);

    // A bounded walk: steps of at most STEP, reflected at the bounds, and it
    // reaches both ends of a narrow range.
    const std::vector<double> walk = Values(Generator("walk(0,5,0.5)"), 3, 20000);
    const Moments walked = Of(walk);
    EXPECT_GE(walked.dLow, 0.0);
    EXPECT_LE(walked.dHigh, 5.0);
    EXPECT_LT(walked.dLow, 0.25);
    EXPECT_GT(walked.dHigh, 4.75);
    for (size_t i = 1; i < walk.size(); ++i)
        ASSERT_LE(std::fabs(walk[i] - walk[i - 1]), 0.5 + 1e-9) << i;

    // A sine of a 60 s period: its range, and the same value a period later.
    const std::vector<double> sine = Values(Generator("sine(0,10,1min)"), 3, 121);
    const Moments waved = Of(sine);
    EXPECT_NEAR(waved.dLow, 0.0, 0.1);
    EXPECT_NEAR(waved.dHigh, 10.0, 0.1);
    EXPECT_NEAR(sine[7], sine[67], 1e-9);
    const Moments noisy = Of(Values(Generator("sine(0,10,1min,3)"), 3, 5000));
    EXPECT_GE(noisy.dLow, 0.0) << "noise stays within the bounds";
    EXPECT_LE(noisy.dHigh, 10.0);
}

TEST(CGeneratorTest, ChoicesAndDeviceConstantsFollowTheirDevicesAndPackets)
{
    const CGenerator pick = Generator("pick(ok,fail,\"q\")");
    std::map<std::string, int> counts;
    double dState = 0;
    for (uint64_t i = 0; i < 30000; ++i)
        ++counts[std::string(pick.Value({kSeed, 1, i}, 0, 0, &dState).text)];
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_NEAR(counts["ok"], 10000, 300);
    EXPECT_NEAR(counts["\\\"q\\\""], 10000, 300) << "a choice's text is JSON string content";

    const CGenerator cycle = Generator("cycle(1.5,2,3)");
    EXPECT_EQ(Values(cycle, 9, 5), (std::vector<double>{1.5, 2, 3, 1.5, 2}));

    // One constant per device, the same for every packet; devices differ.
    const CGenerator device = Generator("device(0,100)");
    std::set<double> constants;
    for (uint64_t k = 0; k < 50; ++k) {
        const std::vector<double> values = Values(device, k, 4);
        EXPECT_EQ(std::set<double>(values.begin(), values.end()).size(), 1u);
        constants.insert(values[0]);
    }
    EXPECT_EQ(constants.size(), 50u);

    // Each rule draws on its own: two rules of the same generator differ.
    const CGenerator uniform = Generator("uniform(0,1)");
    EXPECT_NE(Values(uniform, 2, 3, 0), Values(uniform, 2, 3, 1));
    EXPECT_NE(Values(uniform, 2, 3), Values(uniform, 3, 3));
}

// A draw depends on nothing but its seed, device, packet and purpose.
TEST(CGeneratorTest, DrawsDependOnlyOnSeedDevicePacketAndPurpose)
{
    EXPECT_EQ(CRandom::Bits(1, 2, 3, 4), CRandom::Bits(1, 2, 3, 4));
    std::set<uint64_t> bits;
    for (uint64_t n = 0; n < 4; ++n) {
        bits.insert(CRandom::Bits(n, 0, 0, 1));
        bits.insert(CRandom::Bits(0, n + 1, 0, 1));
        bits.insert(CRandom::Bits(0, 0, n + 1, 1));
        bits.insert(CRandom::Bits(0, 0, 0, static_cast<uint32_t>(n + 2)));
    }
    EXPECT_EQ(bits.size(), 16u) << "every input changes the draw";
    // Neighbouring packets' draws are not correlated.
    double dProduct = 0;
    const int nDraws = 20000;
    for (int i = 0; i < nDraws; ++i)
        dProduct += (CRandom::Unit(CRandom::Bits(7, 0, i, 1)) - 0.5) *
                    (CRandom::Unit(CRandom::Bits(7, 0, i + 1, 1)) - 0.5);
    EXPECT_NEAR(dProduct / nDraws, 0.0, 0.003);
    double dSum = 0;
    for (int i = 0; i < nDraws; ++i)
        dSum += CRandom::Exponential(CRandom::Bits(7, 1, i, 2));
    EXPECT_NEAR(dSum / nDraws, 1.0, 0.03);
}
