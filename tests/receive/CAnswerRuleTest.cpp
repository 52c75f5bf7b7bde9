#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "receive/CAnswerDelay.h"
#include "receive/CAnswerRule.h"
#include "receive/CSeededRandom.h"

namespace {

struct Answered {
    CAnswerRule::Outcome nOutcome;
    std::string bytes;
    int64_t nDelayNs;
};

// The rule's answer to one datagram, taken by a tally first as in a run.
Answered Answer(CAnswerRule& rule, const std::string& strText)
{
    CReceiveTally tally("");
    const std::string padded = strText + std::string(CReceiveTally::kPadding, '\0');
    const CReceiveTally::Taken taken = tally.Take(padded.data(), strText.size(), sockaddr_storage{}, 0);
    CAnswerRule::Decision decision;
    rule.Decide(taken, padded.data(), strText.size(), decision);
    return {decision.nOutcome, decision.bytes, decision.nDelayNs};
}

CReceiveConfig MembersConfig(std::vector<std::string> members)
{
    CReceiveConfig config;
    config.nAnswer = CReceiveConfig::Answer::kMembers;
    config.answerMembers = std::move(members);
    return config;
}

CAnswerDelay Delay(const std::string& strText)
{
    CAnswerDelay delay;
    EXPECT_TRUE(CAnswerDelay::Parse(strText, delay).IsOk()) << strText;
    return delay;
}

}  // namespace

TEST(CAnswerRuleTest, MembersAreCopiedInTheOrderNamedEachTheFirstOfItsName)
{
    CAnswerRule rule(MembersConfig({"packnum", "IMEI", "cmd", "missing"}));
    const Answered full = Answer(rule, "{ \"cmd\" : \"push_msg\", \"IMEI\":\"86\\u0030\", \"packnum\":[1, 2.50],"
                                       " \"IMEI\":\"second\"}");
    EXPECT_EQ(full.nOutcome, CAnswerRule::Outcome::kSend);
    EXPECT_EQ(full.bytes, "{\"packnum\":[1,2.5],\"IMEI\":\"860\",\"cmd\":\"push_msg\"}") << "compact, as stamped";
    EXPECT_EQ(full.nDelayNs, 0);
    EXPECT_EQ(Answer(rule, "{\"time\":\"x\",\"cmd\":\"a\\\"b\"}").bytes, "{\"cmd\":\"a\\\"b\"}")
        << "those it has";
    EXPECT_EQ(Answer(rule, "{\"time\":\"x\"}").nOutcome, CAnswerRule::Outcome::kNone) << "none of them";
    EXPECT_EQ(Answer(rule, "{\"cmd\":1").nOutcome, CAnswerRule::Outcome::kNone) << "malformed";
    EXPECT_EQ(Answer(rule, "[{\"cmd\":1}]").nOutcome, CAnswerRule::Outcome::kNone) << "not an object";
}

TEST(CAnswerRuleTest, EchoSendsEveryDatagramBackAsItCame)
{
    CReceiveConfig config;
    config.nAnswer = CReceiveConfig::Answer::kEcho;
    config.answerDelay = Delay("20ms");
    CAnswerRule rule(config);
    const std::string bytes("{\"IMEI\" \xFF\0x", 12);
    const Answered echoed = Answer(rule, bytes);
    EXPECT_EQ(echoed.nOutcome, CAnswerRule::Outcome::kSend);
    EXPECT_EQ(echoed.bytes, bytes);
    EXPECT_EQ(echoed.nDelayNs, 20000000);
}

// The same seed and the same datagrams give the same answers; the drops
// and delays follow the distributions asked for.
TEST(CAnswerRuleTest, DropsAndDelaysAreDrawnFromTheSeed)
{
    CReceiveConfig config = MembersConfig({"IMEI"});
    config.dAnswerDrop = 0.25;
    config.answerDelay = Delay("uniform(10ms,30ms)");
    config.nSeed = 42;
    CAnswerRule first(config);
    CAnswerRule again(config);
    int nDropped = 0;
    const int kAnswers = 4000;
    for (int i = 0; i < kAnswers; ++i) {
        const Answered a = Answer(first, "{\"IMEI\":\"1\"}");
        const Answered b = Answer(again, "{\"IMEI\":\"1\"}");
        ASSERT_EQ(a.nOutcome, b.nOutcome);
        ASSERT_EQ(a.nDelayNs, b.nDelayNs);
        nDropped += a.nOutcome == CAnswerRule::Outcome::kDropped;
        if (a.nOutcome == CAnswerRule::Outcome::kSend) {
            ASSERT_GE(a.nDelayNs, 10000000);
            ASSERT_LE(a.nDelayNs, 30000000);
        }
    }
    // Binomial(4000, 0.25): the standard deviation is about 27.
    EXPECT_NEAR(nDropped, kAnswers / 4, 150);
    config.nSeed = 43;
    CAnswerRule other(config);
    int nDiffer = 0;
    for (int i = 0; i < 100; ++i)
        nDiffer += Answer(other, "{\"IMEI\":\"1\"}").nDelayNs != Answer(first, "{\"IMEI\":\"1\"}").nDelayNs;
    EXPECT_GT(nDiffer, 50) << "another seed, other draws";
}

TEST(CAnswerRuleTest, EachDistributionHasItsMeanAndNeverGoesBelowZero)
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
        const CAnswerDelay delay = Delay(c.pszDelay);
        CSeededRandom random(7);
        double dSumMs = 0;
        const int kDraws = 20000;
        for (int i = 0; i < kDraws; ++i) {
            const int64_t nNs = delay.Draw(random);
            ASSERT_GE(nNs, 0);
            dSumMs += static_cast<double>(nNs) / 1e6;
        }
        EXPECT_NEAR(dSumMs / kDraws, c.dMeanMs, c.dToleranceMs + 1e-9);
    }
}

TEST(CAnswerRuleTest, ADelayThatIsNotOneIsRefusedSayingWhy)
{
    struct Case {
        const char* pszText;
        const char* pszSays;
    };
    const Case cases[] = {
        {"20", "'20' is not a duration with a unit ns, us, ms or s"},
        {"-5ms", "'-5ms' is not a duration"},
        {"2h", "'2h' is not a duration"},
        {"3601s", "'3601s' is not a duration with a unit ns, us, ms or s, at most an hour"},
        {"uniform(30ms,10ms)", "'uniform(30ms,10ms)' has its low end above its high end"},
        {"uniform(10ms)", "'uniform(10ms)' needs two durations in its brackets"},
        {"exponential(1ms,2ms)", "'exponential(1ms,2ms)' needs one duration in its brackets"},
        {"normal(1ms,x)", "'normal(1ms,x)' has 'x', which is not a duration"},
        {"normal(1ms,2ms", "'normal(1ms,2ms' does not end with ')'"},
        {"poisson(1ms)", "'poisson(1ms)' names no distribution"},
    };
    for (const Case& c : cases) {
        CAnswerDelay delay;
        const CStatus status = CAnswerDelay::Parse(c.pszText, delay);
        EXPECT_TRUE(status.IsInvalid()) << c.pszText;
        EXPECT_EQ(status.Message().rfind(c.pszSays, 0), 0u) << status.Message();
    }
    EXPECT_TRUE(Delay("0ms").IsZero());
    EXPECT_EQ(Delay("250us").Text(), "250us");
}
