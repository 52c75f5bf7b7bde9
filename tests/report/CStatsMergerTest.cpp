#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempDir.h"
#include "report/StatsFileText.h"
#include "report/CStatsMerger.h"

namespace {

constexpr int64_t kStartMs = 1796724000000;

::testing::AssertionResult Ok(const CStatus& status)
{
    if (status.IsOk())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << status.Message();
}

// Shard nShard of two that searched 1000/s, 2000/s and 3000/s, each step
// held by its own figures; errors: the send errors of each step.
std::string SearchShard(uint32_t nShard, const std::vector<uint64_t>& errors)
{
    CRunRecord record;
    record.nDevices = 50;
    record.nFleetDevices = 100;
    record.nStartUnixMs = kStartMs;
    EXPECT_TRUE(CShard::Parse(std::to_string(nShard) + "/2", record.shard));
    record.capacity.emplace();
    record.capacity->bComplete = true;
    for (size_t i = 0; i < errors.size(); ++i) {
        CRunRecord::CapacityStep step;
        step.dRate = 1000.0 * static_cast<double>(i + 1);
        step.nSeconds = 10;
        step.nSent = 5000 * (i + 1);
        step.nErrors = errors[i];
        step.bHeld = true;
        record.capacity->steps.push_back(step);
    }
    record.capacity->Conclude();
    return record.Json();
}

}  // namespace

TEST(CStatsMergerTest, ThresholdsJudgeTheMergedFiguresNotTheShardsVerdicts)
{
    CStatsMerger merger;
    ASSERT_TRUE(Ok(merger.AddText("a", StatsJson("0/2", kStartMs, {{10, 0.1, 0.2}}, "[1000,1001,10]"))));
    ASSERT_TRUE(Ok(merger.AddText("b", StatsJson("1/2", kStartMs, {{7, 0.1, 0.2}}, "[1000,1001,7]"))));
    CRunReport report;
    ASSERT_TRUE(Ok(merger.Merge(report)));
    std::vector<CThreshold> thresholds(2);
    ASSERT_TRUE(Ok(CThreshold::Parse("sent>=17", thresholds[0])));
    ASSERT_TRUE(Ok(CThreshold::Parse("errors<2", thresholds[1])));
    // Each shard had one send error, below 2; the fleet had two.
    EXPECT_TRUE(CStatsMerger::Judge(thresholds, report));
    ASSERT_EQ(report.mergedVerdicts.size(), 2u);
    EXPECT_TRUE(report.mergedVerdicts[0].bOk);
    EXPECT_FALSE(report.mergedVerdicts[1].bOk);

    // A search: each shard held every step with its own errors, the
    // merged steps sum them; shard b's third step is not a step of a.
    CStatsMerger search;
    ASSERT_TRUE(Ok(search.AddText("a", SearchShard(0, {0, 1, 1}))));
    ASSERT_TRUE(Ok(search.AddText("b", SearchShard(1, {0, 1}))));
    CRunReport searched;
    ASSERT_TRUE(Ok(search.Merge(searched)));
    ASSERT_TRUE(searched.capacity);
    EXPECT_EQ(searched.capacity->steps.size(), 2u);
    EXPECT_NE(searched.strCapacityNote.find("went apart at step 3"), std::string::npos) << searched.strCapacityNote;
    EXPECT_EQ(searched.capacity->dCapacity, 2000.0);
    EXPECT_EQ(searched.capacity->steps[1].nErrors, 2u);
    std::vector<CThreshold> errors(1);
    ASSERT_TRUE(Ok(CThreshold::Parse("errors<2", errors[0])));
    EXPECT_FALSE(CStatsMerger::Judge(errors, searched));
    EXPECT_EQ(searched.capacity->dCapacity, 1000.0);
    EXPECT_EQ(searched.capacity->dCrossedAt, 2000.0);
    searched.capacity->dRequired = 1500;
    EXPECT_TRUE(CStatsMerger::Judge(errors, searched));
}

TEST(CStatsMergerTest, ShardsAlignByWallClockSecondAndTheirCountsAdd)
{
    CStatsMerger merger;
    // Shard 0's seconds begin 0.2, 1.2 and 2.2 s after the whole second,
    // shard 1's 1.7, 2.7 and 3.7 s after: to the nearest wall-clock second,
    // 0, 1, 2 and 2, 3, 4.
    ASSERT_TRUE(Ok(merger.AddText(
        "b.json", StatsJson("1/2", kStartMs + 1700, {{30, 2.0, 3}, {30, 2.0, 3}, {30, 2.0, 3}}, "[1,2,90]"))));
    ASSERT_TRUE(Ok(merger.AddText(
        "a.json", StatsJson("0/2", kStartMs + 200, {{10, 1.0, 1}, {10, 1.0, 1}, {10, 1.0, 5}}, "[1,2,30]"))));
    CRunReport report;
    ASSERT_TRUE(Ok(merger.Merge(report)));

    ASSERT_EQ(report.shards.size(), 2u);
    EXPECT_EQ(report.shards[0].strSource, "a.json");  // in shard order
    EXPECT_EQ(report.shards[1].commandLine, (std::vector<std::string>{"tovrik-cli", "--shard", "1/2"}));
    EXPECT_TRUE(report.missingShards.empty());
    EXPECT_EQ(report.nDevices, 100u);
    EXPECT_EQ(report.nFleetDevices, 100u);
    EXPECT_EQ(report.nSent, 120u);
    EXPECT_EQ(report.nErrors, 6u);
    EXPECT_EQ(report.nReplies, 14u);
    EXPECT_EQ(report.nStartUnixMs, kStartMs + 200);
    EXPECT_DOUBLE_EQ(report.dSeconds, 4.5);
    EXPECT_DOUBLE_EQ(report.dCpuSeconds, 0.5);
    EXPECT_EQ(report.nMaxRssKb, 2048);

    ASSERT_EQ(report.series.size(), 5u);
    const std::vector<uint64_t> sent = {10, 10, 40, 30, 30};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(report.series[i].nUnixSecond, kStartMs / 1000 + static_cast<int64_t>(i)) << i;
        EXPECT_EQ(report.series[i].nSent, sent[i]) << i;
    }
    EXPECT_EQ(report.series[2].nDevices, 100);
    EXPECT_EQ(report.series[2].nErrors, 2u);
    EXPECT_EQ(report.series[2].nReplies, 4u);
    // A second's maximum is the shards' highest; its p50 and p99 weighted
    // by their datagrams (11 and 31, errors included).
    EXPECT_DOUBLE_EQ(report.series[2].dMaxMs, 5);
    EXPECT_DOUBLE_EQ(report.series[2].dP50Ms, (11 * 1.0 + 31 * 2.0) / 42);
    EXPECT_DOUBLE_EQ(report.series[4].dP99Ms, 2.0);
}

TEST(CStatsMergerTest, TheRunsQuantilesComeFromTheMergedHistogram)
{
    // Each shard alone has p50 and p99 in its own bucket; together the
    // p50 is the fast shard's and the p99 the slow one's.
    CStatsMerger merger;
    ASSERT_TRUE(Ok(
        merger.AddText("fast", StatsJson("0/3", kStartMs, {{600, 0, 0}}, "[1000,1001,590],[1500,1600,10]", 0.0016))));
    ASSERT_TRUE(Ok(merger.AddText(
        "slow", StatsJson("2/3", kStartMs, {{400, 0, 0}}, "[1000,1001,1],[2000000,2097152,399]", 2.04))));
    CRunReport report;
    ASSERT_TRUE(Ok(merger.Merge(report)));
    EXPECT_DOUBLE_EQ(report.dP50Ms, 0.001);
    // Rank 990 of 1000 lies in the slow bucket; its middle is above the
    // maximum, which caps it.
    EXPECT_DOUBLE_EQ(report.dP99Ms, 2.04);
    EXPECT_DOUBLE_EQ(report.dMaxMs, 2.04);
    ASSERT_EQ(report.histogram.size(), 3u);
    EXPECT_EQ(report.histogram[0].nCount, 591u);
    EXPECT_EQ(report.histogram[2].nFromNs, 2000000u);
    EXPECT_EQ(report.missingShards, std::vector<uint32_t>{1});
}

TEST(CStatsMergerTest, SecondsNoShardCountedStayInTheSeriesAsZeros)
{
    CStatsMerger merger;
    ASSERT_TRUE(Ok(merger.AddText("a", StatsJson("0/2", kStartMs, {{5, 0, 0}}, ""))));
    ASSERT_TRUE(Ok(merger.AddText("b", StatsJson("1/2", kStartMs + 3000, {{7, 0, 0}}, ""))));
    CRunReport report;
    ASSERT_TRUE(Ok(merger.Merge(report)));
    ASSERT_EQ(report.series.size(), 4u);
    EXPECT_EQ(report.series[0].nSent, 5u);
    EXPECT_EQ(report.series[1].nSent, 0u);
    EXPECT_EQ(report.series[2].nUnixSecond, kStartMs / 1000 + 2);
    EXPECT_EQ(report.series[3].nSent, 7u);
    EXPECT_EQ(report.dP50Ms, 0);
}

TEST(CStatsMergerTest, FilesThatAreNotStatsFilesAreRefusedByName)
{
    const std::string strGood = StatsJson("0/1", kStartMs, {{1, 0, 0}}, "");
    struct Case {
        std::string strJson;
        std::string strReason;
    };
    const std::vector<Case> cases = {
        {"", "not JSON"},
        {"{\"devices\":1} trailing", "not JSON"},
        {"[1,2]", "the file is not an object"},
        {"{\"sent\":1}", "no \"devices\""},
        {std::string(strGood).replace(strGood.find("\"series\":["), 10, "\"series\":{"), "not JSON"},
        {std::string(strGood).replace(strGood.find("\"sent\":1,"), 9, "\"sent\":-1,"), "\"sent\" is not a count"},
        {std::string(strGood).replace(strGood.find("\"shard\":\"0/1\""), 13, "\"shard\":\"1/1\""), "\"shard\" is not K/M"},
        {std::string(strGood).replace(strGood.find("\"t\":1"), 5, "\"t\":0"), "\"t\" is not a second of a run"},
        {std::string(strGood).replace(strGood.find("\"lateness_histogram_ns\":[]"), 26,
                                      "\"lateness_histogram_ns\":[[5,5,1]]"),
         "bucket is not [from, to, count]"},
        {std::string(strGood).replace(strGood.find("\"start_unix_ms\""), 15, "\"start_unix_mz\""), "no \"start_unix_ms\""},
    };
    for (const Case& c : cases) {
        CStatsMerger merger;
        const std::string strError = merger.AddText("名字.json", c.strJson).Message();
        EXPECT_EQ(strError.rfind("名字.json: not a stats file (", 0), 0u) << c.strJson << strError;
        EXPECT_NE(strError.find(c.strReason), std::string::npos) << strError;
    }

    CStatsMerger merger;
    const CStatus missing = merger.AddFile("/nonexistent/stats.json");
    EXPECT_EQ(missing.Message().rfind("/nonexistent/stats.json: ", 0), 0u) << missing.Message();
    const TempDir dir;
    EXPECT_EQ(merger.AddFile(dir.Path()).Message(), dir.Path() + ": Is a directory");
    // A well-formed file read from disk is taken.
    ASSERT_TRUE(Ok(merger.AddFile(dir.Write("统计.json", strGood))));
}

TEST(CStatsMergerTest, FilesOfDifferentFleetsOrTheSameShardTwiceAreNotMerged)
{
    struct Case {
        std::vector<std::string> files;  // named a, b, c
        std::string strError;
    };
    const std::vector<Case> cases = {
        {{StatsJson("0/2", kStartMs, {}, ""), StatsJson("0/2", kStartMs, {}, "")}, "a and b are both shard 0/2"},
        // The repeated shard is not the lowest.
        {{StatsJson("0/3", kStartMs, {}, ""), StatsJson("1/3", kStartMs, {}, ""), StatsJson("1/3", kStartMs, {}, "")},
         "b and c are both shard 1/3"},
        {{StatsJson("0/2", kStartMs, {}, ""), StatsJson("1/3", kStartMs, {}, "")},
         "a and b are not shards of one fleet (of 2 and of 3 shards)"},
        {{StatsJson("0/2", kStartMs, {}, ""), StatsJson("1/2", kStartMs, {}, "", 1, 7)},
         "a and b are not shards of one fleet (of 100 and of 7 devices)"},
        {{StatsJson("0/2", kStartMs - 31 * 86400000LL, {{1, 0, 0}}, ""), StatsJson("1/2", kStartMs, {{1, 0, 0}}, "")},
         "not one run"},
    };
    for (const Case& c : cases) {
        CStatsMerger merger;
        for (size_t i = 0; i < c.files.size(); ++i)
            ASSERT_TRUE(Ok(merger.AddText(std::string(1, static_cast<char>('a' + i)), c.files[i])));
        CRunReport report;
        const CStatus merged = merger.Merge(report);
        EXPECT_NE(merged.Message().find(c.strError), std::string::npos) << c.strError << " <- " << merged.Message();
    }
    CStatsMerger empty;
    CRunReport report;
    EXPECT_FALSE(empty.Merge(report).IsOk());
}
