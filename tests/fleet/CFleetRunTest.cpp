#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "NoStop.h"
#include "TempDir.h"
#include "fleet/CFleetRun.h"
#include "load/CTextLoader.h"
#include "net/LoopbackPeer.h"
#include "traffic/CScenario.h"

namespace {

class CCountingObserver : public CFleetRun::Observer {
public:
    void OnSecond(const CFleetStats::Second& second, const CFleetStats&) override { m_seconds.push_back(second); }
    std::vector<CFleetStats::Second> m_seconds;
};

CFleetConfig Config(const LoopbackPeer& peer)
{
    CFleetConfig config;
    config.plan.nMode = SendModes::kEvery100Ms;
    config.plan.bLoop = false;
    config.plan.nImeiFirst = 500;
    config.plan.nImeiWidth = 3;
    config.nDevices = 3;
    config.strTarget = "127.0.0.1";
    config.nPort = peer.Port();
    return config;
}

CLoadResult TwoPackets()
{
    return CTextLoader::Load("{\"IMEI\":\"0\",\"v\":1}{\"IMEI\":\"0\",\"v\":2}", false);
}

}  // namespace

// A run driven as any front end would drive it: the devices' datagrams at
// the receiver, the figures, the verdicts and the stats file handed back.
TEST(CFleetRunTest, RunsTheFleetToItsEndAndHandsBackItsRecord)
{
    LoopbackPeer peer;
    TempDir dir;
    CFleetConfig config = Config(peer);
    config.outputs.strStatsJson = dir.Path() + "/stats.json";
    for (const char* pszRule : {"sent==9", "errors>0"}) {
        CThreshold threshold;
        ASSERT_TRUE(CThreshold::Parse(pszRule, threshold).IsOk());
        config.outputs.thresholds.push_back(threshold);
    }
    CFleetRun run(config);
    ASSERT_TRUE(run.Plan(TwoPackets()).IsOk());
    EXPECT_EQ(run.GetLayout().nCount, 3u);
    ASSERT_TRUE(run.Check().IsOk());
    EXPECT_FALSE(std::filesystem::exists(*config.outputs.strStatsJson)) << "checking leaves no file behind";
    CCountingObserver observer;
    ASSERT_TRUE(run.ServeMetrics().IsOk());
    ASSERT_TRUE(run.Open(observer).IsOk());
    CNoStop stop;
    ASSERT_TRUE(run.Run(stop).IsOk());
    const CFleetRun::Result result = run.Finish();

    std::map<uint16_t, std::vector<std::string>> bySender;
    std::string bytes;
    uint16_t nFrom = 0;
    while (peer.ReceiveFrom(bytes, nFrom, 300))
        bySender[nFrom].push_back(bytes);
    ASSERT_EQ(bySender.size(), 3u) << "a socket per device";
    for (const auto& sender : bySender) {
        ASSERT_EQ(sender.second.size(), 3u);
        EXPECT_NE(sender.second[2].find("\"v\":2"), std::string::npos) << sender.second[2];
    }
    EXPECT_EQ(result.record.nSent, 9u);
    EXPECT_EQ(result.totals.nSent, 9u);
    EXPECT_FALSE(result.totals.AllRefused());
    ASSERT_FALSE(observer.m_seconds.empty()) << "at least the last second is told";
    EXPECT_EQ(observer.m_seconds.size(), result.record.series.size());
    EXPECT_TRUE(result.bCrossed);
    ASSERT_EQ(result.record.verdicts.size(), 2u);
    EXPECT_TRUE(result.record.verdicts[0].bOk);
    EXPECT_FALSE(result.record.verdicts[1].bOk);
    ASSERT_TRUE(result.written.IsOk()) << result.written.Message();
    std::stringstream text;
    text << std::ifstream(*config.outputs.strStatsJson).rdbuf();
    CRunRecord written;
    ASSERT_TRUE(CRunRecord::Read(text.str(), written).IsOk());
    EXPECT_EQ(written.nSent, 9u);
    EXPECT_EQ(written.verdicts.size(), 2u);
}

// A request that cannot be carried out is told apart from a failure.
TEST(CFleetRunTest, StepsSayWhatStopsThemAndWhetherTheRequestWasWrong)
{
    LoopbackPeer peer;
    CFleetConfig empty = Config(peer);
    empty.nDevices = 2;
    ASSERT_TRUE(CShard::Parse("0/3", empty.shard));
    const CStatus planned = CFleetRun(empty).Plan(TwoPackets());
    EXPECT_TRUE(planned.IsInvalid());
    EXPECT_EQ(planned.Message(), "shard 0/3 of 2 devices has no device");

    CFleetConfig more = Config(peer);
    more.nDevices = 4;
    ASSERT_TRUE(CScenario::ReadText("s.json", "{\"stages\":[{\"at\":\"0s\",\"devices\":0},"
                                              "{\"at\":\"5s\",\"devices\":5}]}",
                                    more.traffic)
                    .IsOk());
    const CStatus devices = CFleetRun(more).Plan(TwoPackets());
    EXPECT_TRUE(devices.IsInvalid());
    EXPECT_EQ(devices.Message(), "--scenario: s.json: stages[1].devices: '5' is more than the fleet's 4 devices");

    CFleetConfig broadcast = Config(peer);
    broadcast.strTarget = "255.255.255.255";
    CFleetRun refused(broadcast);
    ASSERT_TRUE(refused.Plan(TwoPackets()).IsOk());
    const CStatus checked = refused.Check();
    EXPECT_TRUE(checked.IsInvalid());
    EXPECT_NE(checked.Message().find("add --broadcast"), std::string::npos) << checked.Message();

    CFleetConfig unwritable = Config(peer);
    unwritable.outputs.strReport = "/nonexistent/dir/r.html";
    CFleetRun failing(unwritable);
    ASSERT_TRUE(failing.Plan(TwoPackets()).IsOk());
    const CStatus files = failing.Check();
    EXPECT_FALSE(files.IsOk());
    EXPECT_FALSE(files.IsInvalid());
    EXPECT_EQ(files.Message(), "cannot write /nonexistent/dir/r.html: No such file or directory");
}
