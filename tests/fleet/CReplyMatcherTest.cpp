#include <gtest/gtest.h>

#include <string>

#include "fleet/CReplyMatcher.h"
#include "packet/CMatchKey.h"
#include "packet/CTemplateBuilder.h"

namespace {

using Outcome = CReplyMatcher::Outcome;

constexpr int64_t kMs = 1000000;
constexpr int64_t kT0 = 1796724000LL * 1000000000LL;

// A device's datagrams with their counter "n" as the member replies are
// matched by.
class CReplyMatcherTest : public ::testing::Test {
protected:
    CReplyMatcherTest() : m_stats(1000 * kMs)
    {
        CTemplateBuilder::Rule rule;
        rule.nKind = CMessageTemplate::Kind::kRaw;
        rule.strCounter = "n";
        rule.strMatch = "n";
        const std::string packet = "{\"n\":0}";
        CTemplateBuilder builder;
        EXPECT_TRUE(builder.Make(Packet{packet.data(), static_cast<int32_t>(packet.size())}, rule, m_message));
    }

    CReplyMatcher Matcher(bool bByMember, int nSlots = 4)
    {
        CReplyMatcher::Settings settings;
        settings.nTimeoutNs = 1000 * kMs;
        settings.bByMember = bByMember;
        settings.nSlots = nSlots;
        return CReplyMatcher(2, settings, m_stats);
    }

    // Datagram n of device 0 sent at kT0 + nAtMs.
    void Send(CReplyMatcher& matcher, uint64_t n, int64_t nAtMs, bool bSent = true)
    {
        CMessageTemplate::Values values;
        values.nCounterStep = n;
        const bool bTracked = matcher.Expect(0, matcher.KeyOf(m_message, values), kT0 + nAtMs * kMs);
        matcher.Settle(0, bTracked, bSent);
    }

    Outcome Reply(CReplyMatcher& matcher, uint64_t n, int64_t nAtMs)
    {
        return matcher.Replied(0, true, CMatchKey::OfInteger(std::to_string(n)), kT0 + nAtMs * kMs);
    }

    CReplyStats m_stats;
    CMessageTemplate m_message;
};

}  // namespace

TEST_F(CReplyMatcherTest, ByOrderAReplyAnswersTheOldestAndAfterTheTimeoutItIsLate)
{
    CReplyMatcher matcher = Matcher(false);
    Send(matcher, 0, 0);
    Send(matcher, 1, 100);
    EXPECT_EQ(Reply(matcher, 99, 20), Outcome::kMatched) << "by order the key does not count";
    EXPECT_EQ(matcher.Outstanding(), 1u);
    matcher.Expire(kT0 + 1100 * kMs);
    EXPECT_EQ(matcher.Outstanding(), 0u) << "datagram 1 timed out at 1100 ms";
    EXPECT_EQ(Reply(matcher, 1, 1200), Outcome::kLate);
    EXPECT_EQ(Reply(matcher, 1, 1300), Outcome::kUnmatched) << "by order a second copy cannot be told apart";
    Send(matcher, 2, 2000, false);
    EXPECT_EQ(matcher.Outstanding(), 0u) << "a datagram that could not be sent is withdrawn";
    const CReplyStats::Counts counts = m_stats.Totals();
    EXPECT_EQ(counts.nMatched, 1u);
    EXPECT_EQ(counts.nLost, 1u);
    EXPECT_EQ(counts.nLate, 1u);
    EXPECT_EQ(counts.nUnmatched, 1u);
    EXPECT_NEAR(m_stats.RoundTrip().dMaxMs, 20.0, 0.01);
}

TEST_F(CReplyMatcherTest, ByMemberEachOutcomeIsToldApart)
{
    CReplyMatcher matcher = Matcher(true);
    for (uint64_t n = 0; n < 3; ++n)
        Send(matcher, n, static_cast<int64_t>(n) * 10);
    EXPECT_EQ(Reply(matcher, 1, 30), Outcome::kMatched);
    EXPECT_EQ(Reply(matcher, 0, 35), Outcome::kMatchedOutOfOrder) << "datagram 1 was answered before it";
    EXPECT_EQ(Reply(matcher, 1, 40), Outcome::kDuplicate);
    EXPECT_EQ(Reply(matcher, 7, 45), Outcome::kUnmatched);
    EXPECT_EQ(matcher.Replied(0, false, 0, kT0 + 46 * kMs), Outcome::kUnmatched) << "a reply without the member";
    EXPECT_EQ(Reply(matcher, 2, 1500), Outcome::kLate) << "datagram 2 timed out at 1020 ms";
    EXPECT_EQ(Reply(matcher, 2, 1600), Outcome::kDuplicate) << "after a late reply, another copy";
    const CReplyStats::Counts counts = m_stats.Totals();
    EXPECT_EQ(counts.nMatched, 2u);
    EXPECT_EQ(counts.nOutOfOrder, 1u);
    EXPECT_EQ(counts.nDuplicate, 2u);
    EXPECT_EQ(counts.nUnmatched, 2u);
    EXPECT_EQ(counts.nLost, 1u);
    EXPECT_EQ(counts.nLate, 1u);
    EXPECT_NEAR(m_stats.RoundTrip().dMaxMs, 35.0, 0.01);
}

TEST_F(CReplyMatcherTest, AFullDeviceEvictsItsOldestAndTheEndLosesWhatIsOutstanding)
{
    CReplyMatcher matcher = Matcher(true, 2);
    Send(matcher, 0, 0);
    Send(matcher, 1, 10);
    Send(matcher, 2, 20);
    EXPECT_EQ(m_stats.Totals().nEvicted, 1u);
    EXPECT_EQ(Reply(matcher, 0, 30), Outcome::kLate) << "an evicted datagram's reply comes late";
    EXPECT_EQ(Reply(matcher, 2, 40), Outcome::kMatched);
    matcher.ExpireAll();
    const CReplyStats::Counts counts = m_stats.Totals();
    EXPECT_EQ(counts.nLost, 2u) << "the evicted one and datagram 1, outstanding at the end";
    EXPECT_EQ(matcher.Outstanding(), 0u);

    // A template without the member sends datagrams no reply can match.
    CTemplateBuilder::Rule rule;
    rule.nKind = CMessageTemplate::Kind::kRaw;
    rule.strMatch = "n";
    CMessageTemplate other;
    const std::string packet = "{\"m\":0}";
    ASSERT_TRUE(CTemplateBuilder().Make(Packet{packet.data(), static_cast<int32_t>(packet.size())}, rule, other));
    const bool bTracked = matcher.Expect(1, matcher.KeyOf(other, CMessageTemplate::Values()), kT0);
    matcher.Settle(1, bTracked, true);
    EXPECT_FALSE(bTracked);
    EXPECT_EQ(m_stats.Totals().nUntracked, 1u);
}
