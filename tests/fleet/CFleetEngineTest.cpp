#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TzGuard.h"
#include "fleet/CFleetEngine.h"
#include "fleet/CFleetPlan.h"
#include "fleet/FakeFleetEnvironment.h"
#include "load/CFileLoader.h"
#include "schedule/CSendSchedule.h"
#include "schedule/SendModes.h"
#include "send/FakeSendEnvironment.h"
#include "send/SendWorker.h"
#include "text/TovrikTexts.h"
#include "time/CDateTime.h"

namespace {

constexpr int64_t kNs = 1000000;  // per millisecond
// 2026-12-08 10:00:00 UTC: a whole hour, minute and ten seconds.
constexpr int64_t kT0 = 1796724000;

// What one device sent: bytes and the clock second they went at.
using Sent = std::vector<std::pair<std::string, int64_t>>;

struct FleetRun {
    CFleetPlan plan;
    CFleetStats stats;
    std::vector<FleetDatagram> sent;
    int64_t nEndNs = 0;  // the fake clock when the engine had ended
    Sent Of(uint32_t nDevice) const
    {
        Sent of;
        for (const FleetDatagram& datagram : sent) {
            if (datagram.nDevice == nDevice)
                of.emplace_back(datagram.bytes, datagram.nNs / (1000 * kNs));
        }
        return of;
    }
};

CFleetPlan::Settings PlanSettings(SendModes::Mode nMode, bool bLoop = true, bool bModifyTime = true)
{
    CFleetPlan::Settings settings;
    settings.nMode = nMode;
    settings.bLoop = bLoop;
    settings.bModifyTime = bModifyTime;
    return settings;
}

// A fleet (or a shard of one) on the fake clock from nStartMs to nEndMs.
void RunEngine(FleetRun& run, const CFleetPlan::Settings& settings, const PacketList& packets,
               const TimeIndex* pIndex, const CFleetEngine::Settings& engineSettings, int64_t nStartMs,
               int64_t nEndMs, int64_t nCostNs = 0, int64_t nJumpAtMs = 0, int64_t nJumpMs = 0)
{
    run.plan.Build(settings, TovrikTexts::kDeviceInfo, packets, pIndex);
    CFakeFleetClock clock(nStartMs * kNs, nEndMs * kNs);
    if (nJumpMs != 0)
        clock.PlanJump(nJumpAtMs * kNs, nJumpMs * kNs);
    CFakeFleetSink sink(clock, nCostNs);
    CFleetEngine engine(run.plan, engineSettings, clock, sink, run.stats);
    ASSERT_TRUE(engine.Start().IsOk());
    engine.Wait();
    run.sent = sink.m_sent;
    run.nEndNs = clock.NowNs();
}

// A whole fleet of nDevices on one scheduler thread.
void RunFleet(FleetRun& run, const CFleetPlan::Settings& settings, const PacketList& packets,
              const TimeIndex* pIndex, uint32_t nDevices, int64_t nStartMs, int64_t nEndMs, bool bSpread = false,
              int64_t nCostNs = 0, int64_t nJumpAtMs = 0, int64_t nJumpMs = 0)
{
    CFleetEngine::Settings engineSettings;
    engineSettings.nFleetDevices = nDevices;
    engineSettings.nDevices = nDevices;
    engineSettings.bSpread = bSpread;
    RunEngine(run, settings, packets, pIndex, engineSettings, nStartMs, nEndMs, nCostNs, nJumpAtMs, nJumpMs);
}

// The one-device worker on its fake clock until nEndMs.
Sent RunWorker(SendModes::Mode nMode, bool bLoop, bool bModifyTime, std::unique_ptr<PacketList> pPackets,
               std::unique_ptr<TimeIndex> pIndex, int64_t nStartMs, int64_t nEndMs, int64_t nJumpAtMs = 0,
               int64_t nJumpMs = 0)
{
    CFakeClock clock(nStartMs);
    CFakeSink sink(clock);
    CFakeNotify notify(sink);
    std::atomic<bool> bRunning{true};
    bool bJumped = false;
    clock.m_onSleep = [&](CFakeClock& c, int) {
        if (nJumpMs != 0 && !bJumped && c.Ms() > nJumpAtMs) {
            bJumped = true;
            c.Move(nJumpMs);
        }
        if (c.Ms() >= nEndMs)
            bRunning = false;
    };
    SendSettings settings;
    settings.mode = nMode;
    settings.strDeviceInfo = TovrikTexts::kDeviceInfo;
    settings.bLoop = bLoop;
    settings.bModifyTime = bModifyTime;
    SendWorker worker(settings, std::move(pPackets), std::move(pIndex), bRunning, clock, sink, notify);
    worker.Run();
    Sent sent;
    for (const SentDatagram& datagram : sink.m_sent) {
        if (datagram.nMs < nEndMs)
            sent.emplace_back(datagram.bytes, datagram.nMs / 1000);
    }
    return sent;
}

// Compact messages of device 0 (IMEI 1234567890), so that the worker's bytes
// are the fleet's.
const std::vector<std::string> kMessages = {
    "{\"cmd\":\"a\",\"IMEI\":\"1234567890\",\"time\":\"2020-07-18 10:00:02\"}",
    "{\"IMEI\":\"1234567890\",\"n\":[1,2.5,\"x\\u0001\"]}",
    "{\"cmd\":\"c\",\"time\":\"2020-07-18 10:00:04\",\"IMEI\":\"1234567890\",\"make_up\":0}",
};

std::unique_ptr<PacketList> Packets()
{
    return MakePackets({kMessages[0], kMessages[1], kMessages[2]});
}

class CFleetEngineTest : public ::testing::Test {
protected:
    CFleetEngineTest() : m_tz("UTC0") {}
    TzGuard m_tz;
};

}  // namespace

TEST_F(CFleetEngineTest, AFleetOfOneSendsWhatTheWorkerSendsAtTheSameSecondsModeByMode)
{
    struct Case {
        SendModes::Mode nMode;
        bool bLoop;
        bool bModifyTime;
        int64_t nSeconds;
    };
    const Case cases[] = {
        {SendModes::kEverySecond, true, true, 8},      {SendModes::kEverySecond, false, true, 8},
        {SendModes::kEveryTenSeconds, true, false, 45}, {SendModes::kEveryMinute, true, true, 250},
        {SendModes::kEveryHour, false, true, 11000},    {SendModes::kEvery100Ms, true, true, 2},
        {SendModes::kEvery10Ms, true, true, 2},
    };
    const int64_t nStartMs = (kT0 + 3) * 1000 + 250;
    for (const Case& c : cases) {
        const int64_t nEndMs = nStartMs + c.nSeconds * 1000;
        const Sent expected = RunWorker(c.nMode, c.bLoop, c.bModifyTime, Packets(), nullptr, nStartMs, nEndMs);
        FleetRun run;
        RunFleet(run, PlanSettings(c.nMode, c.bLoop, c.bModifyTime), *Packets(), nullptr, 1, nStartMs, nEndMs);
        ASSERT_GT(expected.size(), 1u) << int(c.nMode);
        EXPECT_EQ(run.Of(0), expected) << "mode " << int(c.nMode) << " loop " << c.bLoop;
    }
}

TEST_F(CFleetEngineTest, AFleetOfOneReplaysAndFollowsAClockSetBackLikeTheWorker)
{
    const std::string file = kMessages[0] + "\n" + kMessages[2] + "\n" + kMessages[0];
    const int64_t nStartMs = kT0 * 1000 + 300;
    const int64_t nEndMs = nStartMs + 20 * 1000;
    CLoadResult forWorker = CFileLoader::ImportBytes(file.data(), file.size());
    const Sent expected = RunWorker(SendModes::kReplay, true, true, std::move(forWorker.pPackets),
                                    std::move(forWorker.pIndex), nStartMs, nEndMs, nStartMs + 5000, -3000);
    CLoadResult loaded = CFileLoader::ImportBytes(file.data(), file.size());
    FleetRun run;
    RunFleet(run, PlanSettings(SendModes::kReplay), *loaded.pPackets, loaded.pIndex.get(), 1, nStartMs, nEndMs,
             false, 0, nStartMs + 5000, -3000);
    // 10:00:02 twice, 10:00:04, then the clock goes back three seconds and
    // both seconds come again.
    ASSERT_EQ(expected.size(), 1u + 3 + 3);
    EXPECT_EQ(run.Of(0), expected);

    const Sent minute = RunWorker(SendModes::kEveryMinute, true, false, Packets(), nullptr, nStartMs,
                                  nStartMs + 200000, nStartMs + 70000, -120000);
    // Set back by one second, onto the second last handled: it comes again.
    CLoadResult again = CFileLoader::ImportBytes(file.data(), file.size());
    const Sent expectedAgain = RunWorker(SendModes::kReplay, true, true, std::move(again.pPackets),
                                         std::move(again.pIndex), nStartMs, nEndMs, nStartMs + 5000, -1000);
    CLoadResult loadedAgain = CFileLoader::ImportBytes(file.data(), file.size());
    FleetRun runAgain;
    RunFleet(runAgain, PlanSettings(SendModes::kReplay), *loadedAgain.pPackets, loadedAgain.pIndex.get(), 1,
             nStartMs, nEndMs, false, 0, nStartMs + 5000, -1000);
    ASSERT_EQ(expectedAgain.size(), 1u + 3 + 1);
    EXPECT_EQ(runAgain.Of(0), expectedAgain);

    FleetRun minuteRun;
    RunFleet(minuteRun, PlanSettings(SendModes::kEveryMinute, true, false), *Packets(), nullptr, 1, nStartMs,
             nStartMs + 200000, false, 0, nStartMs + 70000, -120000);
    EXPECT_EQ(minuteRun.Of(0), minute);
}

TEST_F(CFleetEngineTest, EachDeviceHasItsOwnImeiAndCounterAndSpreadPlacesItInThePeriod)
{
    CFleetPlan::Settings settings = PlanSettings(SendModes::kEverySecond);
    settings.nImeiFirst = 7;
    settings.nImeiWidth = 15;
    settings.strCounter = "packnum";
    FleetRun run;
    const auto pPackets = MakePackets({"{\"IMEI\":\"x\",\"packnum\":\"0098\",\"time\":\"t\"}"});
    RunFleet(run, settings, *pPackets, nullptr, 4, kT0 * 1000, kT0 * 1000 + 2999, true);
    for (uint32_t k = 0; k < 4; ++k) {
        const std::vector<FleetDatagram> sent = DatagramsOf(run.sent, k);
        const std::string imei = std::string(k == 3 ? 13 : 14, '0') + std::to_string(7 + k);
        ASSERT_EQ(sent.size(), 4u) << k;
        EXPECT_NE(sent[0].bytes.find("\"IMEI\":\"" + imei + "\""), std::string::npos) << sent[0].bytes;
        EXPECT_EQ(sent[0].nNs, kT0 * 1000 * kNs + k * 250 * kNs) << "device info at the start plus k/N of 1 s";
        EXPECT_EQ(sent[1].nNs, (kT0 * 1000 + 100 + k * 250) * kNs) << "the first check";
        for (int i = 2; i < 4; ++i)
            EXPECT_EQ(sent[static_cast<size_t>(i)].nNs, ((kT0 + i - 1) * 1000 + k * 250) * kNs);
        for (int i = 1; i < 4; ++i) {
            const std::string expected = "{\"IMEI\":\"" + imei + "\",\"packnum\":\"" +
                                         (i == 3 ? "0100" : "009" + std::to_string(7 + i)) +
                                         "\",\"time\":\"2026-12-08 10:00:0" + std::to_string(i - 1) + "\"}";
            EXPECT_EQ(sent[static_cast<size_t>(i)].bytes, expected);
        }
    }
    EXPECT_EQ(run.stats.Sent(), 16u);
    EXPECT_EQ(run.stats.Total().dMaxMs, 0.0) << "the fake clock is never late";
}

TEST_F(CFleetEngineTest, FastModesKeepAbsoluteDeadlinesWhateverEachSendCosts)
{
    std::vector<std::string> texts(7000, "{\"a\":1}");
    auto pPackets = std::make_unique<PacketList>();
    for (const std::string& text : texts)
        pPackets->AddCopy(text.data(), static_cast<int32_t>(text.size()));
    FleetRun run;
    // Each send takes 2 ms, so the two devices take 4 ms of every 10 ms
    // period: ticks that slept after sending would fall behind by 40 %.
    RunFleet(run, PlanSettings(SendModes::kEvery10Ms), *pPackets, nullptr, 2, kT0 * 1000, kT0 * 1000 + 60000,
             true, 2 * kNs);
    const size_t nFirst = run.Of(0).size() - 1;
    const size_t nSecond = run.Of(1).size() - 1;
    EXPECT_NEAR(static_cast<double>(nFirst), 6000.0, 1.0);
    EXPECT_NEAR(static_cast<double>(nSecond), 6000.0, 1.0);
    EXPECT_EQ(run.Of(0)[1].first, "{\"a\":1,\"make_up\":1}");
}

TEST_F(CFleetEngineTest, ADeviceEndsAfterItsLastPacketOrStopsAtOneItCannotWrite)
{
    FleetRun once;
    // Each send takes 1 ms: the second and third device of each instant are
    // 1 and 2 ms late.
    RunFleet(once, PlanSettings(SendModes::kEvery100Ms), *Packets(), nullptr, 3, kT0 * 1000, kT0 * 1000 + 60000,
             false, kNs);
    EXPECT_EQ(once.sent.size(), 3u * 4);
    EXPECT_EQ(once.stats.Devices(), 0) << "all ended";
    EXPECT_LT(once.sent.back().nNs, (kT0 * 1000 + 400) * kNs);
    EXPECT_EQ(once.nEndNs, once.sent.back().nNs + kNs) << "ended right after the last packet";
    EXPECT_EQ(once.stats.Total().dMaxMs, 2.0);

    FleetRun blocked;
    RunFleet(blocked, PlanSettings(SendModes::kEverySecond), *MakePackets({kMessages[0], "{not json}", kMessages[1]}),
             nullptr, 2, kT0 * 1000, kT0 * 1000 + 10000);
    EXPECT_EQ(blocked.Of(0).size(), 2u) << "the device info and the first packet, then nothing";
    EXPECT_EQ(blocked.stats.Devices(), 2) << "stopped, not ended";
}

TEST_F(CFleetEngineTest, ByImeiEachDeviceReplaysOnlyItsOwnMessagesWithItsOwnDeviceInfo)
{
    const std::string file =
        "{\"IMEI\":\"A\",\"time\":\"2020-01-01 10:00:01\",\"v\":1}\n"
        "{\"IMEI\":5,\"time\":\"2020-01-01 10:00:01\"}\n"
        "{\"IMEI\":\"A\",\"time\":\"2020-01-02 10:00:02\",\"v\":2}\n"
        "{\"IMEI\":\"B\",\"time\":\"2020-01-01 10:00:03\"}\n";
    CLoadResult loaded = CFileLoader::ImportBytes(file.data(), file.size());
    CFleetPlan::Settings settings = PlanSettings(SendModes::kReplay);
    settings.bByImei = true;
    FleetRun run;
    run.plan.Build(settings, TovrikTexts::kDeviceInfo, *loaded.pPackets, loaded.pIndex.get());
    RunFleet(run, settings, *loaded.pPackets, loaded.pIndex.get(), 3, kT0 * 1000, kT0 * 1000 + 5000);
    ASSERT_EQ(run.plan.ImeiGroups(), 3u) << "a plan built again starts afresh";
    const Sent a = run.Of(0);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_NE(a[0].first.find("\"IMEI\":\"A\""), std::string::npos);
    EXPECT_EQ(a[1], std::make_pair(std::string("{\"IMEI\":\"A\",\"v\":1,\"time\":\"2026-12-08 10:00:01\"}"), kT0 + 1));
    EXPECT_EQ(a[2], std::make_pair(std::string("{\"IMEI\":\"A\",\"v\":2,\"time\":\"2026-12-08 10:00:02\"}"), kT0 + 2));
    const Sent five = run.Of(1);
    ASSERT_EQ(five.size(), 2u);
    EXPECT_NE(five[0].first.find("\"IMEI\":5,"), std::string::npos) << five[0].first;
    EXPECT_EQ(five[1].second, kT0 + 1);
    ASSERT_EQ(run.Of(2).size(), 2u);
    EXPECT_EQ(run.Of(2)[1].second, kT0 + 3);
}

namespace {

// Where each device's datagrams fall, the device info message first, in ms
// after kT0; the packets count "n" up from "007" per device, and a stamp
// holds the second a packet went at.
struct InstantCase {
    const char* pszName;
    SendModes::Mode nMode;
    uint32_t nDevices;  // of this engine
    uint64_t nFirstDevice;
    uint64_t nFleetDevices;
    bool bSpread;
    int64_t nStartMs;
    int64_t nEndMs;
    std::vector<std::vector<int64_t>> instantsMs;  // per local device
    // The clock set by nJumpMs when it would pass nJumpAtMs.
    int64_t nJumpAtMs = 0;
    int64_t nJumpMs = 0;
    int64_t nRampMs = 0;
};

const char kCountedFile[] =
    "{\"IMEI\":\"1\",\"n\":\"007\",\"time\":\"2020-01-01 10:00:01\"}\n"
    "{\"IMEI\":\"1\",\"n\":\"007\",\"time\":\"2020-01-01 10:00:01\"}\n"
    "{\"IMEI\":\"1\",\"n\":\"007\",\"time\":\"2020-01-01 10:00:02\"}\n";

class CFleetInstantTest : public ::testing::TestWithParam<InstantCase> {
protected:
    CFleetInstantTest() : m_tz("UTC0") {}
    TzGuard m_tz;
};

}  // namespace

TEST_P(CFleetInstantTest, EachDeviceSendsAtItsInstantsAndCountsItsOwnPackets)
{
    const InstantCase& c = GetParam();
    CLoadResult loaded = CFileLoader::ImportBytes(kCountedFile, sizeof kCountedFile - 1);
    CFleetPlan::Settings settings = PlanSettings(c.nMode, c.nMode != SendModes::kEvery10Ms);
    settings.strCounter = "n";
    CFleetEngine::Settings engineSettings;
    engineSettings.nFleetDevices = c.nFleetDevices;
    engineSettings.nFirstDevice = c.nFirstDevice;
    engineSettings.nDevices = c.nDevices;
    engineSettings.bSpread = c.bSpread;
    engineSettings.nRampNs = c.nRampMs * kNs;
    FleetRun run;
    RunEngine(run, settings, *loaded.pPackets, c.nMode == SendModes::kReplay ? loaded.pIndex.get() : nullptr,
              engineSettings, kT0 * 1000 + c.nStartMs, kT0 * 1000 + c.nEndMs, 0, kT0 * 1000 + c.nJumpAtMs,
              c.nJumpMs);
    for (uint32_t k = 0; k < c.nDevices; ++k) {
        std::vector<int64_t> instants;
        std::vector<std::string> counters;
        for (const FleetDatagram& datagram : run.sent) {
            if (datagram.nDevice != k)
                continue;
            instants.push_back(datagram.nNs / kNs - kT0 * 1000);
            if (instants.size() == 1)
                continue;
            counters.push_back(datagram.bytes.substr(datagram.bytes.find("\"n\":") + 4, 5));
            if (CSendSchedule::IsFast(c.nMode))
                continue;
            const size_t nTime = datagram.bytes.find("\"time\":\"");
            ASSERT_NE(nTime, std::string::npos) << datagram.bytes;
            EXPECT_EQ(datagram.bytes.substr(nTime + 8, 19),
                      CDateTime(CSendSchedule::SecondOf(datagram.nNs)).Format("%Y-%m-%d %H:%M:%S"))
                << "device " << k;
        }
        EXPECT_EQ(instants, c.instantsMs[k]) << "device " << k;
        for (size_t i = 0; i < counters.size(); ++i)
            EXPECT_EQ(counters[i], "\"00" + std::to_string(7 + i) + "\"") << "device " << k << " packet " << i;
    }
    EXPECT_EQ(run.stats.Online(), c.nDevices);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CFleetInstantTest,
    ::testing::Values(
        // Devices 2 and 3 of 4: offsets 2/4 and 3/4 of the second.
        InstantCase{"ShardSpreadByGlobalIndex", SendModes::kEverySecond, 2, 2, 4, true, 0, 1999,
                    {{500, 600, 1500}, {750, 850, 1750}}},
        // Started 3 s into ten: a device's second is the clock's less its offset.
        InstantCase{"TenSecondsSpread", SendModes::kEveryTenSeconds, 4, 0, 4, true, 3000, 24000,
                    {{3000, 10000, 20000}, {5500, 12500, 22500}, {8000, 15000}, {10500, 17500}}},
        InstantCase{"FastPacketsOnePeriodAfterTheStart", SendModes::kEvery10Ms, 2, 0, 2, true, 0, 1000,
                    {{0, 10, 20, 30}, {5, 15, 25, 35}}},
        InstantCase{"Every100Ms", SendModes::kEvery100Ms, 1, 0, 1, false, 250, 1000, {{250, 350, 450, 550}}},
        // Set back 10 s between the first packets: the rest keep their pace.
        InstantCase{"FastClockSetBack", SendModes::kEvery100Ms, 1, 0, 1, false, 0, 1000, {{0, 100, -9800, -9700}},
                    150, -10000},
        InstantCase{"ReplaySpread", SendModes::kReplay, 2, 0, 2, true, 0, 2999,
                    {{0, 1000, 1000, 2000}, {500, 1500, 1500, 2500}}},
        // Online at k/4 of 2 s, the first check after that, then on the
        // mode's own seconds.
        InstantCase{"RampEverySecond", SendModes::kEverySecond, 4, 0, 4, false, 0, 2999,
                    {{0, 100, 1000, 2000}, {500, 600, 1000, 2000}, {1000, 1100, 2000}, {1500, 1600, 2000}},
                    0, 0, 2000},
        // Devices 2 and 3 of 4 online at 2/4 and 3/4 of 4 s, their packets in
        // their spread places (5 s and 7.5 s of each ten).
        InstantCase{"RampSpreadShardByGlobalIndex", SendModes::kEveryTenSeconds, 2, 2, 4, true, 0, 24000,
                    {{2000, 5100, 15000}, {3000, 7600, 17500}}, 0, 0, 4000},
        InstantCase{"RampFastFromOnline", SendModes::kEvery100Ms, 2, 0, 2, false, 0, 1000,
                    {{0, 100, 200, 300}, {500, 600, 700, 800}}, 0, 0, 1000}),
    [](const ::testing::TestParamInfo<InstantCase>& info) { return std::string(info.param.pszName); });

TEST_F(CFleetEngineTest, ByCaptureTimeEachSourceSendsItsDatagramsAtTheScaledGapsAfterTheFirstCheck)
{
    const std::string file = "{\"IMEI\":\"A\",\"v\":1}\n{\"IMEI\":\"B\",\"v\":2}\n{\"IMEI\":\"C\",\"v\":3}\n";
    CLoadResult loaded = CFileLoader::ImportBytes(file.data(), file.size());
    const std::vector<int64_t> captureNs = {0, 300 * kNs, 1000 * kNs};
    const std::vector<uint32_t> captureSource = {0, 1, 0};
    CFleetPlan::Capture capture;
    capture.pNs = captureNs.data();
    capture.pSource = captureSource.data();
    CFleetPlan::Settings settings = PlanSettings(SendModes::kEverySecond);
    settings.bBySource = true;
    settings.bCaptureTime = true;
    settings.dSpeed = 2.0;
    FleetRun run;
    run.plan.Build(settings, TovrikTexts::kDeviceInfo, *loaded.pPackets, nullptr, &capture);
    ASSERT_EQ(run.plan.ImeiGroups(), 2u);
    CFleetEngine::Settings engineSettings;
    engineSettings.nFleetDevices = 2;
    engineSettings.nDevices = 2;
    const int64_t nStartNs = kT0 * 1000 * kNs + 700 * kNs;
    CFakeFleetClock clock(nStartNs, nStartNs + 2 * 86400 * 1000 * kNs);
    // Half-way, the clock is set forward by a day: the gaps still hold.
    clock.PlanJump(nStartNs + 300 * kNs, 86400 * 1000 * kNs);
    CFakeFleetSink sink(clock);
    {
        CFleetEngine engine(run.plan, engineSettings, clock, sink, run.stats);
        ASSERT_TRUE(engine.Start().IsOk());
        engine.Wait();
    }
    const std::vector<FleetDatagram> a = sink.Of(0);
    const std::vector<FleetDatagram> b = sink.Of(1);
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_NE(a[0].bytes.find("\"IMEI\":\"A\""), std::string::npos) << "the device info carries the source's IMEI";
    EXPECT_EQ(a[0].nNs, nStartNs);
    EXPECT_EQ(a[1].nNs, nStartNs + 100 * kNs);
    EXPECT_EQ(a[1].bytes, "{\"IMEI\":\"A\",\"v\":1,\"time\":\"2026-12-08 10:00:00\"}");
    EXPECT_EQ(b[1].nNs - nStartNs, 250 * kNs);
    EXPECT_EQ(b[1].bytes, "{\"IMEI\":\"B\",\"v\":2,\"time\":\"2026-12-08 10:00:00\"}");
    EXPECT_EQ(a[2].nNs - nStartNs - 86400 * 1000 * kNs, 600 * kNs);
    EXPECT_EQ(a[2].bytes, "{\"IMEI\":\"C\",\"v\":3,\"time\":\"2026-12-09 10:00:01\"}")
        << "a source's messages keep their own IMEI";
    EXPECT_EQ(run.stats.Devices(), 0) << "devices end after their last datagram";
}
