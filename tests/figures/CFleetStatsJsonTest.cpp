#include <gtest/gtest.h>

#include <string>

#include "figures/CFleetStats.h"
#include "report/CStatsMerger.h"

// What the fleet writes with --stats-json is what a report reads back.
TEST(CFleetStatsJsonTest, AReportReadsBackWhatTheFleetWrote)
{
    CFleetStats stats;
    stats.SetDevices(3);
    for (int i = 0; i < 300; ++i)
        stats.RecordSend(true, 1000 + i * 1000);  // 1 us to 300 us
    stats.RecordSend(false, 7000000);
    stats.RecordReply(10);
    stats.Sample();
    stats.RecordSend(true, 12);
    stats.Sample();

    CRunRecord record;
    record.nDevices = 3;
    record.nFleetDevices = 12;
    record.nMode = 6;
    // An argument that is not UTF-8 still makes a file that reads.
    record.commandLine = {"tovrik-cli", "--text", "{\"名\":\"\x01\xFF\"}"};
    record.nStartUnixMs = 1796724000400;
    record.dSeconds = 2.0;
    ASSERT_TRUE(CShard::Parse("2/4", record.shard));
    stats.Fill(record);

    CStatsMerger merger;
    const CStatus added = merger.AddText("shard", record.Json());
    ASSERT_TRUE(added.IsOk()) << added.Message();
    CRunReport report;
    ASSERT_TRUE(merger.Merge(report).IsOk());
    ASSERT_EQ(report.shards.size(), 1u);
    EXPECT_EQ(report.shards[0].nShard, 2u);
    EXPECT_EQ(report.shards[0].nShards, 4u);
    EXPECT_EQ(report.shards[0].commandLine,
              (std::vector<std::string>{"tovrik-cli", "--text", "{\"名\":\"\x01\xEF\xBF\xBD\"}"}));
    EXPECT_EQ(report.nStartUnixMs, 1796724000400);
    EXPECT_EQ(report.nDevices, 3u);
    EXPECT_EQ(report.nFleetDevices, 12u);
    EXPECT_EQ(report.nMode, 6);
    EXPECT_EQ(report.nSent, 301u);
    EXPECT_EQ(report.nErrors, 1u);
    EXPECT_EQ(report.nReplies, 1u);
    ASSERT_EQ(report.series.size(), 2u);
    EXPECT_EQ(report.series[0].nUnixSecond, 1796724000);
    EXPECT_EQ(report.series[0].nSent, 300u);
    EXPECT_EQ(report.series[1].nSent, 1u);
    EXPECT_EQ(report.missingShards, (std::vector<uint32_t>{0, 1, 3}));

    // The histogram holds every datagram, and its quantiles are the fleet's.
    uint64_t nCount = 0;
    for (const CRunReport::Bucket& bucket : report.histogram)
        nCount += bucket.nCount;
    EXPECT_EQ(nCount, 302u);
    const CLatencyHistogram::Figures total = stats.Total();
    EXPECT_NEAR(report.dP50Ms, total.dP50Ms, 0.0005);
    EXPECT_NEAR(report.dP99Ms, total.dP99Ms, 0.0005);
    EXPECT_DOUBLE_EQ(report.dMaxMs, 7.0);
}

// Replies matched to datagrams and the thresholds' verdicts go into the file
// as they were counted, read back byte for byte, and merge across shards.
TEST(CFleetStatsJsonTest, RepliesAndVerdictsReadBackAndMergeAcrossShards)
{
    constexpr int64_t kMs = 1000000;
    CStatsMerger merger;
    for (uint32_t k = 0; k < 2; ++k) {
        CFleetStats stats;
        stats.MatchReplies(500 * kMs);
        stats.RecordSend(true, 1000);
        CReplyStats& replies = *stats.ReplyMatching();
        replies.RecordMatched((k + 1) * 10 * kMs, k == 1);
        replies.RecordLost(k == 0);
        replies.RecordLate();
        stats.Sample();
        CRunRecord record;
        record.nDevices = 1;
        record.nFleetDevices = 2;
        record.nStartUnixMs = 1796724000000;
        record.dSeconds = 1.0;
        ASSERT_TRUE(CShard::Parse(std::to_string(k) + "/2", record.shard));
        stats.Fill(record);
        record.replyMatching->strMember = "packnum";
        record.verdicts.push_back({"rtt_p99<1s", 10.0 * (k + 1), true});
        CRunRecord read;
        ASSERT_TRUE(CRunRecord::Read(record.Json(), read).IsOk());
        EXPECT_EQ(read.Json(), record.Json());
        ASSERT_TRUE(merger.AddText("shard" + std::to_string(k), record.Json()).IsOk());
    }
    CRunReport report;
    ASSERT_TRUE(merger.Merge(report).IsOk());
    ASSERT_TRUE(report.bRepliesMatched);
    EXPECT_EQ(report.replyCounts.nMatched, 2u);
    EXPECT_EQ(report.replyCounts.nLost, 2u);
    EXPECT_EQ(report.replyCounts.nEvicted, 1u);
    EXPECT_EQ(report.replyCounts.nLate, 2u);
    EXPECT_EQ(report.replyCounts.nOutOfOrder, 1u);
    EXPECT_NEAR(report.dRttMaxMs, 20.0, 0.001);
    EXPECT_NEAR(report.dRttP50Ms, 10.0, 10.0 * 0.04) << "the merged histogram's p50, within its bucket";
    ASSERT_EQ(report.series.size(), 1u);
    EXPECT_EQ(report.series[0].nLost, 2u);
    EXPECT_NEAR(report.series[0].dRttMaxMs, 20.0, 0.001);
    ASSERT_EQ(report.verdicts.size(), 2u);
    EXPECT_EQ(report.verdicts[1].strSource, "shard1");
    EXPECT_DOUBLE_EQ(report.verdicts[1].verdict.value.value_or(0), 20.0);
}
