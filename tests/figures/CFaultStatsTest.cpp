#include <gtest/gtest.h>

#include <string>

#include "figures/CFaultStats.h"
#include "metrics/CMetricsText.h"
#include "report/CHtmlReport.h"
#include "report/CStatsMerger.h"
#include "verdict/CThreshold.h"

namespace {

CRunRecord Record(const char* pszShard)
{
    CRunRecord record;
    record.nDevices = 2;
    record.nFleetDevices = 4;
    record.nStartUnixMs = 1796724000000;
    record.dSeconds = 1;
    EXPECT_TRUE(CShard::Parse(pszShard, record.shard));
    return record;
}

}  // namespace

// A run with traffic options tells its seed and faults in every output; a
// plain run's stats file stays as it was.
TEST(CFaultStatsTest, TheFaultsAndTheSeedReachEveryOutputOfARunWithTraffic)
{
    CFaultStats faults;
    for (int i = 0; i < 3; ++i)
        faults.Add(CFaultCounts::kLoss);
    faults.Add(CFaultCounts::kOffline);
    faults.AddHeldAtStop(5);
    CShard shard;
    ASSERT_TRUE(CShard::Parse("1/2", shard));
    const std::string metrics = CMetricsText(shard, 2).FaultText(faults);
    EXPECT_NE(metrics.find("# TYPE tovrik_faults_injected_total counter\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("\ntovrik_faults_injected_total{shard=\"1/2\",kind=\"loss\"} 3\n"), std::string::npos);
    EXPECT_NE(metrics.find("\ntovrik_faults_injected_total{shard=\"1/2\",kind=\"offline\"} 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("\ntovrik_datagrams_held_at_stop{shard=\"1/2\"} 5\n"), std::string::npos) << metrics;

    CRunRecord plain = Record("0/2");
    EXPECT_EQ(plain.Json().find("seed"), std::string::npos);
    EXPECT_EQ(plain.Json().substr(plain.Json().size() - 17), "\"thresholds\":[]}\n");

    CRunRecord traffic = Record("1/2");
    traffic.bTraffic = true;
    traffic.nSeed = UINT64_MAX;
    traffic.faults = faults.Counts();
    const std::string json = traffic.Json();
    EXPECT_NE(json.find(",\"seed\":18446744073709551615,\"faults\":{\"loss\":3,\"duplicate\":0,\"reorder\":0,"
                        "\"jitter\":0,\"corrupt\":0,\"churn\":0,\"outage\":0,\"offline\":1},\"held_at_stop\":5}\n"),
              std::string::npos)
        << json;
    CRunRecord read;
    ASSERT_TRUE(CRunRecord::Read(json, read).IsOk());
    EXPECT_TRUE(read.bTraffic);
    EXPECT_EQ(read.nSeed, UINT64_MAX);
    EXPECT_EQ(read.faults.counts, traffic.faults.counts);
    EXPECT_EQ(read.faults.nHeldAtStop, 5u);

    const CThreshold::Figures figures = CThreshold::FleetFigures(read);
    for (const auto& [pszRule, bOk] : {std::pair{"faults==4", true}, std::pair{"faults_loss<3", false},
                                       std::pair{"faults_offline>=1", true}, std::pair{"faults_churn==0", true}}) {
        CThreshold threshold;
        ASSERT_TRUE(CThreshold::Parse(pszRule, threshold).IsOk()) << pszRule;
        EXPECT_EQ(threshold.Holds(threshold.Measure(figures)), bOk) << pszRule;
    }
    CThreshold threshold;
    EXPECT_FALSE(CThreshold::Parse("faults_loss>1%", threshold).IsOk()) << "a count takes no unit";

    // Shards add up; the page shows the faults and the seeds.
    CStatsMerger merger;
    CRunRecord other = traffic;
    other.shard = plain.shard;
    other.nSeed = 7;
    ASSERT_TRUE(merger.AddText("a.json", json).IsOk());
    ASSERT_TRUE(merger.AddText("b.json", other.Json()).IsOk());
    CRunReport report;
    ASSERT_TRUE(merger.Merge(report).IsOk());
    EXPECT_TRUE(report.bTraffic);
    EXPECT_EQ(report.faults.counts[CFaultCounts::kLoss], 6u);
    EXPECT_EQ(report.seeds, (std::vector<uint64_t>{7, UINT64_MAX}));
    const std::string html = CHtmlReport::Html(report);
    EXPECT_NE(html.find("<tr><th>Injected faults</th><td>loss 6, duplicate 0, reorder 0, jitter 0, corrupt 0, churn 0, "
                        "outage 0, offline 2 (8 in all); held back at the stop, never sent: 10</td></tr>"),
              std::string::npos);
    EXPECT_NE(html.find("<tr><th>Seeds (by shard)</th><td>7, 18446744073709551615</td></tr>"), std::string::npos);
}
