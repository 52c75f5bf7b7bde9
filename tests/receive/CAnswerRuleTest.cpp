#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "receive/CAnswerRule.h"

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

CDelay Delay(const std::string& strText)
{
    CDelay delay;
    EXPECT_TRUE(CDelay::Read(strText, delay).IsOk()) << strText;
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
