#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "text/CDuration.h"
#include "traffic/CChurn.h"
#include "traffic/CDelay.h"
#include "traffic/COutage.h"
#include "traffic/COptionText.h"
#include "traffic/CRandom.h"
#include "traffic/CRate.h"
#include "traffic/CTrafficConfig.h"

namespace {

// Sets a key from its text: what is wrong, or nothing.
std::string Set(const std::string& strKey, const std::string& strText, CTrafficConfig::Settings& settings)
{
    uint32_t nKeys = 0;
    if (!CTrafficConfig::IsKey(strKey))
        return "no such key";
    return CTrafficConfig::Set(strKey, strText, settings, nKeys).Message();
}

}  // namespace

TEST(CTrafficGrammarTest, NumbersProbabilitiesAndDurationsReadOnlyTheirOwnForms)
{
    double d = 0;
    for (const char* pszGood : {"0", "-1.5", "+2", ".5", "5.", "1e3", "2.5E-2"})
        EXPECT_TRUE(COptionText::ReadNumber(pszGood, d)) << pszGood;
    for (const char* pszBad : {"", "-", ".", "1e", "inf", "nan", "0x10", " 1", "1 ", "1,5", "1e999"})
        EXPECT_FALSE(COptionText::ReadNumber(pszBad, d)) << pszBad;
    ASSERT_TRUE(COptionText::ReadProbability("5%", d));
    EXPECT_DOUBLE_EQ(d, 0.05);
    ASSERT_TRUE(COptionText::ReadProbability("0.25", d));
    EXPECT_DOUBLE_EQ(d, 0.25);
    for (const char* pszBad : {"1.01", "-0.1", "101%", "5 %", "%"})
        EXPECT_FALSE(COptionText::ReadProbability(pszBad, d)) << pszBad;

    const struct {
        const char* pszText;
        int64_t nNs;
    } durations[] = {{"250ms", 250000000}, {"1.5s", 1500000000}, {"2min", 120000000000}, {"1h", 3600000000000},
                     {"100us", 100000},     {"0s", 0},            {"20ns", 20}};
    for (const auto& duration : durations) {
        int64_t nNs = -1;
        EXPECT_TRUE(CDuration::Read(duration.pszText, nNs)) << duration.pszText;
        EXPECT_EQ(nNs, duration.nNs) << duration.pszText;
        EXPECT_TRUE(CDuration::Read(CDuration::Text(nNs), nNs) && nNs == duration.nNs) << CDuration::Text(nNs);
    }
    int64_t nNs = 0;
    for (const char* pszBad : {"5", "5m", "ms", "-1s", "1.5 s", "400d", "367000h", ".5s", "1e3ms"})
        EXPECT_FALSE(CDuration::Read(pszBad, nNs)) << pszBad;
    EXPECT_EQ(CDuration::Text(90000000000), "90s");
    EXPECT_EQ(CDuration::Text(1500000), "1500us");
    ASSERT_TRUE(CDuration::ReadSeconds("90", 0, CDuration::kMaxNs, nNs));
    EXPECT_EQ(nNs, 90000000000) << "a number alone is seconds where the option took seconds";
    EXPECT_EQ(COptionText::SplitList("uniform(1,2),x=y,,z"),
              (std::vector<std::string>{"uniform(1,2)", "x=y", "", "z"}));
}

// Each option's text is read by one rule; a bad one says what the option
// takes, so that the command line and a scenario file say the same.
TEST(CTrafficGrammarTest, EachKeyTakesItsFormAndSaysWhatItTakesOtherwise)
{
    struct Case {
        const char* pszKey;
        const char* pszText;
        const char* pszWrong;  // nullptr: read
    };
    const Case cases[] = {
        {"loss", "5%", nullptr},
        {"loss", "0.2,burst=3", nullptr},
        {"loss", "off", nullptr},
        {"loss", "0.9,burst=2", "cannot be: with runs of 2 on average, at most N/(N+1)"},
        {"loss", "50%,burst=1", nullptr},
        {"loss", "60%,burst=1", "cannot be: with runs of 1 on average"},
        {"loss", "100%,burst=1", "cannot be"},
        {"loss", "0.5,burst=0.5", "is not P[,burst=N] with P a probability"},
        {"loss", "0.5,bust=2", "is not P[,burst=N]"},
        {"loss", "1.5", "is not P[,burst=N]"},
        {"duplicate", "1%,delay=uniform(10ms,20ms)", nullptr},
        {"duplicate", "1%,delay=5", "has delay='5', which is not a duration"},
        {"duplicate", "1%,by=5ms", "is not P[,delay=DELAY]"},
        {"reorder", "2%", nullptr},
        {"reorder", "2%,by=exponential(300ms)", nullptr},
        {"reorder", "2%,by=normal(1s)", "normal takes MEAN,SD"},
        {"jitter", "normal(10ms,3ms)", nullptr},
        {"jitter", "uniform(5ms,1ms)", "uniform takes LO,HI with LO <= HI"},
        {"jitter", "gauss(1ms,2ms)", "names no distribution"},
        {"jitter", "10", "is not a duration"},
        {"corrupt", "1%,flip,break-json", nullptr},
        {"corrupt", "1%,flop", "is not P[,KIND...]"},
        {"churn", "2,uniform(10s,60s)", nullptr},
        {"churn", "2", "is not RATE,DURATION"},
        {"churn", "4000,1s", "is not RATE,DURATION"},
        {"churn", "2,60", "has the duration '60', which is not a duration"},
        {"bogus", "1", "no such key"},
    };
    for (const Case& c : cases) {
        CTrafficConfig::Settings settings;
        const std::string strWrong = Set(c.pszKey, c.pszText, settings);
        if (!c.pszWrong)
            EXPECT_EQ(strWrong, "") << c.pszKey << " " << c.pszText;
        else
            EXPECT_NE(strWrong.find(c.pszWrong), std::string::npos) << c.pszKey << " " << c.pszText << ": " << strWrong;
    }
    CTrafficConfig::Settings settings;
    ASSERT_EQ(Set("loss", "0.2,burst=3", settings), "");
    EXPECT_DOUBLE_EQ(settings.faults.loss.dBurst, 3.0);
    ASSERT_EQ(Set("corrupt", "1%,flip,break-json", settings), "");
    EXPECT_EQ(settings.faults.corrupt.nKinds, CLinkFaults::kFlip | CLinkFaults::kBreakJson);
    ASSERT_EQ(Set("jitter", "0ms", settings), "");
    EXPECT_FALSE(settings.faults.jitter.bOn) << "no delay is no jitter";

    COutage outage;
    ASSERT_TRUE(COutage::Read("10s,30s,return=5s", true, outage).IsOk());
    EXPECT_EQ(outage.nAtNs, 10000000000);
    EXPECT_EQ(outage.nLengthNs, 30000000000);
    EXPECT_EQ(outage.nSpreadNs, 5000000000);
    EXPECT_TRUE(COutage::Read("30s", false, outage).IsOk());
    EXPECT_FALSE(COutage::Read("10s,0s", true, outage).IsOk());
    const CStatus spread = COutage::Read("10s,30s,spread=5s", true, outage);
    EXPECT_EQ(spread.Message().rfind("'10s,30s,spread=5s' is not AT,DURATION[,return=SPREAD]", 0), 0u)
        << spread.Message();
}

TEST(CTrafficGrammarTest, VaryRulesNameAMemberAndAGeneratorAndRefuseTheReservedOnes)
{
    CTrafficConfig config;
    CTrafficConfig::Vary vary;
    ASSERT_TRUE(CTrafficConfig::ReadVary("sensor.temp=sine(-5,35.5,1h,0.5),decimals=2", vary).IsOk());
    EXPECT_EQ(vary.strMember, "sensor.temp") << "a root member's name, dots and all";
    EXPECT_EQ(vary.nDecimals, 2);
    EXPECT_EQ(vary.generator.GetKind(), CGenerator::Kind::kSine);
    ASSERT_TRUE(config.AddVary(vary).IsOk());
    const CStatus twice = config.AddVary(vary);
    EXPECT_NE(twice.Message().find("a second generator"), std::string::npos) << "one generator a member";
    ASSERT_TRUE(CTrafficConfig::ReadVary("status=pick(ok,fail,1.5)", vary).IsOk());
    EXPECT_FALSE(vary.generator.Numeric());
    EXPECT_TRUE(vary.generator.HasChoices());
    ASSERT_TRUE(CTrafficConfig::ReadVary("n=cycle(1,2,3)", vary).IsOk());
    EXPECT_TRUE(vary.generator.Numeric());

    const struct {
        const char* pszText;
        const char* pszWrong;
    } bad[] = {
        {"temperature", "is not MEMBER=GENERATOR"},
        {"=uniform(1,2)", "is not MEMBER=GENERATOR"},
        {"IMEI=uniform(1,2)", "needs a member other than IMEI and time"},
        {"time=uniform(1,2)", "needs a member other than IMEI and time"},
        {"t=uniform(2,1)", "uniform takes LO,HI with LO <= HI"},
        {"t=uniform(1)", "uniform takes LO,HI"},
        {"t=normal(1,-2)", "with SD at least 0"},
        {"t=walk(0,10)", "walk takes LO,HI,STEP"},
        {"t=sine(0,1,60)", "PERIOD a duration above 0"},
        {"t=sine(0,1)", "sine takes LO,HI,PERIOD[,NOISE]"},
        {"t=uniform(0,1e16)", "each a number of at most 1e15"},
        {"t=pick(a,,b)", "none of them empty"},
        {"t=random(1,2)", "is not a generator"},
        {"t=uniform(1,2),decimals=10", "with N from 0 to 9"},
        {"t=uniform(1,2),digits=1", "is not MEMBER=GENERATOR[,decimals=N]"},
    };
    for (const auto& c : bad) {
        const CStatus read = CTrafficConfig::ReadVary(c.pszText, vary);
        EXPECT_TRUE(read.IsInvalid()) << c.pszText;
        EXPECT_NE(read.Message().find(c.pszWrong), std::string::npos) << c.pszText << ": " << read.Message();
    }
    uint64_t nSeed = 0;
    EXPECT_TRUE(CRandom::ReadSeed("18446744073709551615", nSeed).IsOk());
    EXPECT_EQ(nSeed, UINT64_MAX);
    EXPECT_EQ(CRandom::ReadSeed("18446744073709551616", nSeed).Message(),
              "'18446744073709551616' is not a seed (decimal digits, 0 to 18446744073709551615)");
    EXPECT_FALSE(CRandom::ReadSeed("-1", nSeed).IsOk());
}

// Every delay a user writes (jitter, churn lengths, answer delays) is read and
// drawn here: each distribution has its mean and never goes below zero.
TEST(CTrafficGrammarTest, EachDistributionHasItsMeanAndNeverGoesBelowZero)
{
    struct Case {
        const char* pszDelay;
        double dMeanMs;
        double dToleranceMs;
    };
    const Case cases[] = {
        {"1.5ms", 1.5, 0},
        {"uniform(0s,0.1s)", 50, 2},
        {"exponential(20ms)", 20, 1},
        {"normal(40ms,5ms)", 40, 0.5},
        // Half of the draws fall below zero and are 0: the mean of the
        // positive half-normal, halved.
        {"normal(0ms,10ms)", 10 * std::sqrt(2 / 3.141592653589793) / 2, 0.4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszDelay);
        CDelay delay;
        ASSERT_TRUE(CDelay::Read(c.pszDelay, delay).IsOk());
        double dSumMs = 0;
        const int kDraws = 20000;
        for (uint64_t i = 0; i < kDraws; ++i) {
            const CRandom::Key key{7, 0, i};
            const int64_t nNs = delay.Draw(key.Bits(CRandom::kJitter), key.Bits(CRandom::kJitter + 1));
            ASSERT_GE(nNs, 0);
            dSumMs += static_cast<double>(nNs) / 1e6;
        }
        EXPECT_NEAR(dSumMs / kDraws, c.dMeanMs, c.dToleranceMs + 1e-9);
    }
}

TEST(CTrafficGrammarTest, ADelayThatIsNotOneIsRefusedSayingWhy)
{
    struct Case {
        const char* pszText;
        const char* pszSays;
    };
    const Case cases[] = {
        {"20", "'20' is not a duration"},
        {"-5ms", "'-5ms' is not a duration"},
        {"400d", "'400d' is not a duration"},
        {"uniform(30ms,10ms)", "'uniform(30ms,10ms)' is not a distribution: uniform takes LO,HI with LO <= HI"},
        {"uniform(10ms)", "'uniform(10ms)' is not a distribution: uniform takes LO,HI"},
        {"exponential(1ms,2ms)", "'exponential(1ms,2ms)' is not a distribution: exponential takes MEAN"},
        {"normal(1ms,x)", "'normal(1ms,x)' is not a distribution: normal takes MEAN,SD"},
        {"normal(1ms,2ms", "'normal(1ms,2ms' is not a duration"},
        {"poisson(1ms)", "'poisson(1ms)' names no distribution"},
    };
    for (const Case& c : cases) {
        CDelay delay;
        const CStatus status = CDelay::Read(c.pszText, delay);
        EXPECT_TRUE(status.IsInvalid()) << c.pszText;
        EXPECT_EQ(status.Message().rfind(c.pszSays, 0), 0u) << status.Message();
    }
    CDelay delay;
    ASSERT_TRUE(CDelay::Read("0ms", delay).IsOk());
    EXPECT_TRUE(delay.IsZero());
    for (const char* pszText : {"250us", "2h", "normal(20ms,5ms)", "uniform(1s,90s)", "exponential(1500us)"}) {
        ASSERT_TRUE(CDelay::Read(pszText, delay).IsOk());
        EXPECT_EQ(delay.Text(), pszText) << "as a user writes it";
    }
}

TEST(CTrafficGrammarTest, ARatesTextReadsBackAsTheRateWithoutAnExponent)
{
    const std::pair<double, const char*> cases[] = {
        {20000, "20000/s"}, {2.5, "2.5/s"}, {25555555.5555, "25555556/s"}, {1234.56789, "1234.57/s"},
        {0.00123456789, "0.00123457/s"}};
    for (const auto& [dRate, pszText] : cases) {
        EXPECT_EQ(CRate::Text(dRate), pszText);
        double dBack = 0;
        ASSERT_TRUE(CRate::Read(CRate::Text(dRate), CTrafficConfig::kMaxRate, dBack).IsOk()) << pszText;
        EXPECT_NEAR(dBack, dRate, dRate * 1e-5);
    }
}
