#include <gtest/gtest.h>

#include <string>

#include "figures/CFleetStats.h"
#include "metrics/CMetricsText.h"

namespace {

bool Has(const std::string& strText, const std::string& strLine)
{
    return strText.find("\n" + strLine + "\n") != std::string::npos;
}

CShard Shard(const char* pszText)
{
    CShard shard;
    EXPECT_TRUE(CShard::Parse(pszText, shard));
    return shard;
}

}  // namespace

TEST(CMetricsTextTest, CountersAndCumulativeBucketsCarryTheShard)
{
    CFleetStats stats;
    stats.SetDevices(7);
    // Edges are inclusive: 0.1 ms goes in le="0.0001", 1 ns more in the next.
    for (const int64_t nNs : {int64_t{-5}, int64_t{100000}, int64_t{100001}, int64_t{2000000}, int64_t{2500000},
                              int64_t{3000000000}})
        stats.RecordSend(true, nNs);
    stats.RecordSend(false, 999999999);
    stats.RecordReply(10);
    const std::string text = CMetricsText(Shard("2/8"), 9).Text(stats);

    EXPECT_TRUE(Has(text, "# TYPE tovrik_datagrams_sent_total counter")) << text;
    EXPECT_TRUE(Has(text, "tovrik_datagrams_sent_total{shard=\"2/8\"} 6")) << text;
    EXPECT_TRUE(Has(text, "tovrik_send_errors_total{shard=\"2/8\"} 1"));
    EXPECT_TRUE(Has(text, "tovrik_replies_total{shard=\"2/8\"} 1"));
    EXPECT_TRUE(Has(text, "# TYPE tovrik_devices_active gauge"));
    EXPECT_TRUE(Has(text, "tovrik_devices_active{shard=\"2/8\"} 7"));
    EXPECT_TRUE(Has(text, "tovrik_devices{shard=\"2/8\"} 9"));
    EXPECT_TRUE(Has(text, "# TYPE tovrik_lateness_seconds histogram"));
    const char* const expected[][2] = {{"0.0001", "2"}, {"0.00025", "3"}, {"0.001", "3"}, {"0.0025", "5"},
                                       {"0.5", "5"},    {"1", "6"},       {"+Inf", "7"}};
    for (const auto& bucket : expected)
        EXPECT_TRUE(Has(text, std::string("tovrik_lateness_seconds_bucket{shard=\"2/8\",le=\"") + bucket[0] +
                                  "\"} " + bucket[1]))
            << bucket[0];
    EXPECT_TRUE(Has(text, "tovrik_lateness_seconds_count{shard=\"2/8\"} 7"));
    // 0 + 0.1 ms + 0.100001 ms + 2 ms + 2.5 ms + 3 s + 0.999999999 s
    EXPECT_TRUE(Has(text, "tovrik_lateness_seconds_sum{shard=\"2/8\"} 4.004700000")) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST(CMetricsTextTest, MatchedRepliesAddTheirCountersAndRoundTripsUpToTheTimeout)
{
    CFleetStats stats;
    EXPECT_EQ(CMetricsText(Shard("0/1"), 1).Text(stats).find("tovrik_reply"), std::string::npos)
        << "nothing of replies unless they are matched";
    stats.MatchReplies(300000000);
    CReplyStats& replies = *stats.ReplyMatching();
    replies.RecordMatched(2000000, false);
    replies.RecordMatched(400000000, false);
    replies.RecordLost(false);
    replies.RecordDuplicate();
    const std::string text = CMetricsText(Shard("0/1"), 1).Text(stats);
    EXPECT_TRUE(Has(text, "tovrik_replies_lost_total{shard=\"0/1\"} 1")) << text;
    EXPECT_TRUE(Has(text, "tovrik_replies_duplicate_total{shard=\"0/1\"} 1"));
    EXPECT_TRUE(Has(text, "tovrik_reply_rtt_seconds_bucket{shard=\"0/1\",le=\"0.0025\"} 1"));
    EXPECT_TRUE(Has(text, "tovrik_reply_rtt_seconds_bucket{shard=\"0/1\",le=\"0.3\"} 1")) << "the timeout, the last edge";
    EXPECT_EQ(text.find("tovrik_reply_rtt_seconds_bucket{shard=\"0/1\",le=\"0.5\"}"), std::string::npos);
    EXPECT_TRUE(Has(text, "tovrik_reply_rtt_seconds_bucket{shard=\"0/1\",le=\"+Inf\"} 2"));
    EXPECT_TRUE(Has(text, "tovrik_reply_rtt_seconds_sum{shard=\"0/1\"} 0.402000000"));
}

TEST(CMetricsTextTest, ACapacitySearchShowsItsRateAndWhatItFoundNaNUntilAStepHeld)
{
    CFleetStats stats;
    const CMetricsText metrics(Shard("0/1"), 1);
    EXPECT_EQ(metrics.Text(stats).find("tovrik_capacity"), std::string::npos) << "nothing of a search without one";

    stats.SetSearch({1000, 0, {}, {}, false});
    std::string text = metrics.Text(stats);
    EXPECT_TRUE(Has(text, "tovrik_capacity_search_rate{shard=\"0/1\"} 1000.0")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_rate{shard=\"0/1\"} NaN")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_crossed_rate{shard=\"0/1\"} NaN")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_search_done{shard=\"0/1\"} 0")) << text;

    stats.SetSearch({2812.5, 5, 2500.0, 3375.0, true});
    text = metrics.Text(stats);
    EXPECT_TRUE(Has(text, "# TYPE tovrik_capacity_steps_total counter")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_steps_total{shard=\"0/1\"} 5")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_search_rate{shard=\"0/1\"} 2812.5")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_rate{shard=\"0/1\"} 2500.0")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_crossed_rate{shard=\"0/1\"} 3375.0")) << text;
    EXPECT_TRUE(Has(text, "tovrik_capacity_search_done{shard=\"0/1\"} 1")) << text;
}
