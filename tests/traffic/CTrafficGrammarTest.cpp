#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "traffic/CChurn.h"
#include "traffic/CDelay.h"
#include "traffic/COutage.h"
#include "traffic/COptionText.h"
#include "traffic/CTrafficConfig.h"

namespace {

// Sets a key from its text: what is wrong, or nothing.
std::string Set(const std::string& strKey, const std::string& strText, CTrafficConfig::Settings& settings)
{
    uint32_t nKeys = 0;
    std::string strWrong;
    if (!CTrafficConfig::Set(strKey, strText, settings, nKeys, strWrong))
        return strWrong.empty() ? "no such key" : strWrong;
    return std::string();
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
    } durations[] = {{"250ms", 250000000}, {"1.5s", 1500000000},       {"2min", 120000000000},
                     {"1h", 3600000000000}, {"100us", 100000}, {"0s", 0}};
    for (const auto& duration : durations) {
        int64_t nNs = -1;
        EXPECT_TRUE(CDelay::ReadDuration(duration.pszText, nNs)) << duration.pszText;
        EXPECT_EQ(nNs, duration.nNs) << duration.pszText;
    }
    int64_t nNs = 0;
    for (const char* pszBad : {"5", "5m", "ms", "-1s", "1.5 s", "400d", "367000h"})
        EXPECT_FALSE(CDelay::ReadDuration(pszBad, nNs)) << pszBad;
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
    std::string strWrong;
    ASSERT_TRUE(COutage::Read("10s,30s,return=5s", true, outage, strWrong));
    EXPECT_EQ(outage.nAtNs, 10000000000);
    EXPECT_EQ(outage.nLengthNs, 30000000000);
    EXPECT_EQ(outage.nSpreadNs, 5000000000);
    EXPECT_TRUE(COutage::Read("30s", false, outage, strWrong));
    EXPECT_FALSE(COutage::Read("10s,0s", true, outage, strWrong));
    EXPECT_FALSE(COutage::Read("10s,30s,spread=5s", true, outage, strWrong));
    EXPECT_NE(strWrong.find("is not AT,DURATION[,return=SPREAD]"), std::string::npos) << strWrong;
}

TEST(CTrafficGrammarTest, VaryRulesNameAMemberAndAGeneratorAndRefuseTheReservedOnes)
{
    CTrafficConfig config;
    CTrafficConfig::Vary vary;
    std::string strWrong;
    ASSERT_TRUE(CTrafficConfig::ReadVary("sensor.temp=sine(-5,35.5,1h,0.5),decimals=2", vary, strWrong)) << strWrong;
    EXPECT_EQ(vary.strMember, "sensor.temp") << "a root member's name, dots and all";
    EXPECT_EQ(vary.nDecimals, 2);
    EXPECT_EQ(vary.generator.GetKind(), CGenerator::Kind::kSine);
    ASSERT_TRUE(config.AddVary(vary, strWrong));
    EXPECT_FALSE(config.AddVary(vary, strWrong)) << "one generator a member";
    EXPECT_NE(strWrong.find("a second generator"), std::string::npos) << strWrong;
    ASSERT_TRUE(CTrafficConfig::ReadVary("status=pick(ok,fail,1.5)", vary, strWrong));
    EXPECT_FALSE(vary.generator.Numeric());
    EXPECT_TRUE(vary.generator.HasChoices());
    ASSERT_TRUE(CTrafficConfig::ReadVary("n=cycle(1,2,3)", vary, strWrong));
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
        EXPECT_FALSE(CTrafficConfig::ReadVary(c.pszText, vary, strWrong)) << c.pszText;
        EXPECT_NE(strWrong.find(c.pszWrong), std::string::npos) << c.pszText << ": " << strWrong;
    }
    uint64_t nSeed = 0;
    EXPECT_TRUE(CTrafficConfig::ReadSeed("18446744073709551615", nSeed, strWrong));
    EXPECT_EQ(nSeed, UINT64_MAX);
    EXPECT_FALSE(CTrafficConfig::ReadSeed("18446744073709551616", nSeed, strWrong));
    EXPECT_FALSE(CTrafficConfig::ReadSeed("-1", nSeed, strWrong));
}
