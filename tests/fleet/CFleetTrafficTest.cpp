#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TzGuard.h"
#include "fleet/CFleetEngine.h"
#include "fleet/CFleetPlan.h"
#include "fleet/FakeFleetEnvironment.h"
#include "schedule/CSendSchedule.h"
#include "send/FakeSendEnvironment.h"
#include "text/TovrikTexts.h"
#include "traffic/CScenario.h"

namespace {

constexpr int64_t kMs = 1000000;
// 2026-12-08 10:00:00 UTC.
constexpr int64_t kT0Ms = 1796724000000;

// Traffic options as the command line gives them (name, text).
CTrafficConfig Traffic(const std::vector<std::pair<std::string, std::string>>& options, uint64_t nSeed)
{
    CTrafficConfig config;
    config.seed = nSeed;
    for (const auto& [strName, strText] : options) {
        CStatus read;
        if (strName == "vary") {
            CTrafficConfig::Vary vary;
            read = CTrafficConfig::ReadVary(strText, vary);
            if (read.IsOk())
                read = config.AddVary(vary);
        } else if (strName == "outage") {
            COutage outage;
            read = COutage::Read(strText, true, outage);
            config.outages.push_back(outage);
        } else {
            read = CTrafficConfig::Set(strName, strText, config.start, config.nStartKeys);
        }
        EXPECT_TRUE(read.IsOk()) << strName << " " << read.Message();
    }
    return config;
}

// One engine (a fleet, or a shard of one) with traffic on the fake clock.
struct TrafficRun {
    CFleetPlan plan;
    CFleetStats stats;
    CFaultStats faults;
    std::unique_ptr<CTrafficModel> pModel;
    std::vector<FleetDatagram> sent;
    uint64_t nFirst = 0;

    // Each global device's datagrams in the order sent, their "time"
    // values left out (a truncated one too).
    void Into(std::map<uint64_t, std::vector<std::string>>& streams) const
    {
        for (const FleetDatagram& datagram : sent) {
            std::string bytes = datagram.bytes;
            const size_t nTime = bytes.find("\"time\":\"");
            if (nTime != std::string::npos)
                bytes.erase(nTime + 8, bytes.find('"', nTime + 8) - (nTime + 8));
            streams[nFirst + datagram.nDevice].push_back(bytes);
        }
    }
};

void RunTraffic(TrafficRun& run, const CTrafficConfig& config, CFleetPlan::Settings settings, const PacketList& packets,
                uint64_t nFleet, uint64_t nFirst, uint32_t nDevices, int64_t nStartMs, int64_t nEndMs,
                bool bSpread = true, int64_t nSendCostNs = 0, const CPace* pPace = nullptr)
{
    for (const CTrafficConfig::Vary& vary : config.vary) {
        CTemplateBuilder::Vary rule;
        rule.strMember = vary.strMember;
        rule.bNumbers = vary.generator.Numeric();
        rule.bTexts = vary.generator.HasChoices();
        rule.nDecimals = vary.nDecimals;
        settings.vary.push_back(rule);
    }
    run.plan.Build(settings, TovrikTexts::kDeviceInfo, packets, nullptr);
    run.pModel = std::make_unique<CTrafficModel>(config, *config.seed, nFleet, 150 * kMs);
    run.nFirst = nFirst;
    CFakeFleetClock clock(nStartMs * kMs, nEndMs * kMs);
    CFakeFleetSink sink(clock, nSendCostNs);
    CFleetEngine::Settings engineSettings;
    engineSettings.nFleetDevices = nFleet;
    engineSettings.nFirstDevice = nFirst;
    engineSettings.nDevices = nDevices;
    engineSettings.bSpread = bSpread;
    engineSettings.pTraffic = run.pModel.get();
    engineSettings.pFaults = &run.faults;
    engineSettings.pPace = pPace;
    {
        CFleetEngine engine(run.plan, engineSettings, clock, sink, run.stats);
        ASSERT_TRUE(engine.Start().IsOk());
        engine.Wait();
    }
    run.sent = sink.m_sent;
}

CFleetPlan::Settings Mode(SendModes::Mode nMode, const std::string& strCounter = "packnum")
{
    CFleetPlan::Settings settings;
    settings.nMode = nMode;
    settings.strCounter = strCounter;
    return settings;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t nCount = 0;
    for (size_t nAt = text.find(part); nAt != std::string::npos; nAt = text.find(part, nAt + 1))
        ++nCount;
    return nCount;
}

bool IsInfo(const std::string& bytes)
{
    return bytes.find("\"push_info\"") != std::string::npos;
}

class CFleetTrafficTest : public ::testing::Test {
protected:
    CFleetTrafficTest() : m_tz("UTC0") {}
    TzGuard m_tz;
};

}  // namespace

// The same seed gives every device the same datagrams but for "time": from
// one engine or two shards, started at another instant of the second;
// another seed other ones.
TEST_F(CFleetTrafficTest, ASeedGivesEachDeviceTheSameDatagramsFromOneProcessOrShards)
{
    const std::vector<std::pair<std::string, std::string>> options = {
        {"vary", "humidity=walk(30,40,0.5)"}, {"vary", "temperature=normal(40,2)"}, {"vary", "cmd=pick(a,b,c)"},
        {"loss", "20%,burst=2"},             {"duplicate", "10%"},                  {"corrupt", "5%"},
        {"churn", "120,uniform(1s,3s)"},     {"outage", "20s,5s,return=3s"}};
    const auto pPackets = MakePackets({TovrikTexts::kStatusMessage});
    const int64_t nEndMs = kT0Ms + 60100;
    std::map<uint64_t, std::vector<std::string>> whole;
    TrafficRun one;
    RunTraffic(one, Traffic(options, 42), Mode(SendModes::kEverySecond), *pPackets, 6, 0, 6, kT0Ms + 250, nEndMs);
    one.Into(whole);
    std::map<uint64_t, std::vector<std::string>> sharded;
    CFaultCounts shardFaults;
    for (const uint64_t nFirst : {0, 3}) {
        TrafficRun shard;
        RunTraffic(shard, Traffic(options, 42), Mode(SendModes::kEverySecond), *pPackets, 6, nFirst, 3, kT0Ms + 700,
                   nEndMs);
        shard.Into(sharded);
        for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
            shardFaults.counts[i] += shard.faults.Counts().counts[i];
    }
    ASSERT_EQ(whole.size(), 6u);
    ASSERT_EQ(sharded.size(), 6u);
    for (uint64_t k = 0; k < 6; ++k) {
        const std::vector<std::string>& a = whole[k];
        const std::vector<std::string>& b = sharded[k];
        size_t i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i])
            ++i;
        EXPECT_TRUE(i == a.size() && i == b.size())
            << "device " << k << " datagram " << i << " of " << a.size() << " and " << b.size() << ": "
            << (i < a.size() ? a[i].substr(0, 100) : "(none)") << " / "
            << (i < b.size() ? b[i].substr(0, 100) : "(none)");
    }
    EXPECT_EQ(shardFaults.counts, one.faults.Counts().counts);
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i) {
        if (i != CFaultCounts::kReorder && i != CFaultCounts::kJitter) {
            EXPECT_GT(one.faults.Counts().counts[i], 0u) << CFaultCounts::Name(i);
        }
    }
    // Each device's values are its own: walks apart, and the choices vary.
    EXPECT_NE(whole[0][2].substr(0, 120), whole[1][2].substr(0, 120));
    size_t nPicked = 0;
    for (const std::string& bytes : whole[2])
        nPicked += Count(bytes, "\"cmd\":\"b\"");
    EXPECT_GT(nPicked, 3u);

    TrafficRun other;
    RunTraffic(other, Traffic(options, 43), Mode(SendModes::kEverySecond), *pPackets, 6, 0, 6, kT0Ms + 250, nEndMs);
    std::map<uint64_t, std::vector<std::string>> otherStreams;
    other.Into(otherStreams);
    EXPECT_NE(otherStreams, whole);
}

// Losses, copies and delays on the fast mode's exact grid: what arrives is
// what the counters say, the held datagrams go at their own instants and
// lateness is measured against those.
TEST_F(CFleetTrafficTest, FaultsAreCountedByKindAndLatenessLeavesTheInjectedDelayApart)
{
    std::vector<std::string> texts;
    for (int i = 0; i < 400; ++i)
        texts.push_back("{\"IMEI\":\"1\",\"n\":" + std::to_string(i) + "}");
    auto pPackets = std::make_unique<PacketList>();
    for (const std::string& text : texts)
        pPackets->AddCopy(text.data(), static_cast<int32_t>(text.size()));
    const CTrafficConfig config = Traffic({{"loss", "10%"},
                                           {"duplicate", "10%,delay=30ms"},
                                           {"reorder", "10%,by=250ms"},
                                           {"jitter", "uniform(5ms,20ms)"}},
                                          9);
    TrafficRun run;
    RunTraffic(run, config, Mode(SendModes::kEvery100Ms, ""), *pPackets, 2, 0, 2, kT0Ms, kT0Ms + 60000, false);
    const CFaultCounts faults = run.faults.Counts();
    std::map<uint32_t, std::vector<int>> order;
    size_t nPackets = 0;
    for (const FleetDatagram& datagram : run.sent) {
        if (IsInfo(datagram.bytes))
            continue;
        ++nPackets;
        const int n = std::stoi(datagram.bytes.substr(datagram.bytes.find("\"n\":") + 4));
        order[datagram.nDevice].push_back(n);
        // Packet n was due at (n + 1) x 100 ms; held back at least 5 ms.
        const int64_t nDueNs = (kT0Ms + (n + 1) * 100) * kMs;
        ASSERT_GE(datagram.nNs, nDueNs + 5 * kMs) << datagram.bytes;
    }
    EXPECT_EQ(nPackets, 2 * 400 - faults.counts[CFaultCounts::kLoss] + faults.counts[CFaultCounts::kDuplicate]);
    EXPECT_EQ(run.stats.Sent(), nPackets + 2);
    EXPECT_NEAR(static_cast<double>(faults.counts[CFaultCounts::kLoss]), 80, 30);
    EXPECT_EQ(faults.counts[CFaultCounts::kJitter], 2 * 400 - faults.counts[CFaultCounts::kLoss]);
    EXPECT_GT(faults.counts[CFaultCounts::kReorder], 40u);
    EXPECT_LT(run.stats.Total().dMaxMs, 0.5) << "the wake grid's lateness, not the injected delays";
    for (const auto& device : order) {
        size_t nOvertaken = 0;
        std::map<int, int> times;
        for (size_t i = 0; i < device.second.size(); ++i) {
            ++times[device.second[i]];
            nOvertaken += i > 0 && device.second[i] < device.second[i - 1];
        }
        EXPECT_GT(nOvertaken, 10u) << "held datagrams come after later ones";
        for (const auto& packet : times)
            ASSERT_LE(packet.second, 2) << packet.first;
    }
}

// A thread that has fallen behind sends what was due first first, held
// datagrams and devices alike; what the link still holds when the run stops
// is counted, never lost from the figures.
TEST_F(CFleetTrafficTest, HeldDatagramsKeepTheOrderOfTheirInstantsAndThoseHeldAtTheStopAreCounted)
{
    std::vector<std::string> texts;
    for (int i = 0; i < 20; ++i)
        texts.push_back("{\"IMEI\":\"1\",\"n\":" + std::to_string(i) + "}");
    auto pPackets = std::make_unique<PacketList>();
    for (const std::string& text : texts)
        pPackets->AddCopy(text.data(), static_cast<int32_t>(text.size()));
    // Packet n is due at (n + 1) x 10 ms; its copy, held back, 5 ms later.
    std::map<std::pair<uint32_t, int>, int> seen;
    const auto intended = [&seen](const FleetDatagram& datagram) {
        if (IsInfo(datagram.bytes))
            return kT0Ms * kMs;
        const int n = std::stoi(datagram.bytes.substr(datagram.bytes.find("\"n\":") + 4));
        const bool bCopy = seen[{datagram.nDevice, n}]++ > 0;
        return (kT0Ms + (n + 1) * 10 + (bCopy ? 5 : 0)) * kMs;
    };
    // 40 devices every 10 ms, each send costing 0.5 ms: the thread falls
    // ever further behind.
    TrafficRun late;
    RunTraffic(late, Traffic({{"duplicate", "50%,delay=5ms"}}, 4), Mode(SendModes::kEvery10Ms, ""), *pPackets, 40, 0,
               40, kT0Ms, kT0Ms + 60000, false, 500000);
    ASSERT_GT(late.faults.Count(CFaultCounts::kDuplicate), 300u);
    int64_t nLastNs = 0;
    for (const FleetDatagram& datagram : late.sent) {
        const int64_t nNs = intended(datagram);
        ASSERT_LE(nLastNs, nNs) << datagram.nDevice << ": " << datagram.bytes;
        nLastNs = nNs;
    }

    TrafficRun stopped;
    RunTraffic(stopped, Traffic({{"jitter", "800ms"}}, 4), Mode(SendModes::kEvery100Ms, ""), *pPackets, 3, 0, 3,
               kT0Ms, kT0Ms + 1000, false);
    const CFaultCounts faults = stopped.faults.Counts();
    EXPECT_EQ(faults.counts[CFaultCounts::kJitter], 3u * 10);
    EXPECT_EQ(faults.nHeldAtStop, 3u * 8) << "packets 2 to 9, due after the stop";
    EXPECT_EQ(stopped.stats.Sent(), 3u + 3 * 2);
}

TEST_F(CFleetTrafficTest, TheDeviceInfoMessagePassesTheLinkUntouched)
{
    const auto pPackets = MakePackets({TovrikTexts::kStatusMessage});
    TrafficRun run;
    RunTraffic(run, Traffic({{"loss", "100%"}, {"corrupt", "100%"}}, 3), Mode(SendModes::kEverySecond), *pPackets, 3, 0,
               3, kT0Ms, kT0Ms + 5000, false);
    ASSERT_EQ(run.sent.size(), 3u);
    for (const FleetDatagram& datagram : run.sent)
        EXPECT_TRUE(IsInfo(datagram.bytes)) << datagram.bytes;
    EXPECT_EQ(run.faults.Count(CFaultCounts::kLoss), 3u * 6) << "the first check and five seconds";
    EXPECT_EQ(run.faults.Count(CFaultCounts::kCorrupt), 0u);
}

// An outage silences every device; each comes back within the spread, its
// device info message first, then its schedule, the packets it missed gone.
TEST_F(CFleetTrafficTest, AfterAnOutageEachDeviceSendsItsDeviceInfoAgainThenItsSchedule)
{
    const auto pPackets = MakePackets({TovrikTexts::kStatusMessage});
    TrafficRun run;
    RunTraffic(run, Traffic({{"outage", "5s,10s,return=4s"}}, 5), Mode(SendModes::kEverySecond), *pPackets, 4, 0, 4,
        kT0Ms, kT0Ms + 30000, false);
    std::vector<int64_t> returns;
    for (uint32_t k = 0; k < 4; ++k) {
        const std::vector<FleetDatagram> sent = DatagramsOf(run.sent, k);
        // The info, the first check and seconds 1 to 4; the info again at
        // 15 s to 19 s; then every second to 30.
        ASSERT_GE(sent.size(), 8u);
        EXPECT_TRUE(IsInfo(sent[0].bytes));
        EXPECT_EQ(sent[5].nNs, (kT0Ms + 4000) * kMs);
        ASSERT_TRUE(IsInfo(sent[6].bytes)) << k;
        const int64_t nBackMs = sent[6].nNs / kMs - kT0Ms;
        EXPECT_GE(nBackMs, 15000 - 100);
        EXPECT_LT(nBackMs, 19000);
        returns.push_back(nBackMs);
        EXPECT_GT(sent[7].nNs, sent[6].nNs);
        EXPECT_EQ((sent[7].nNs / kMs - kT0Ms) % 1000, 0) << "back on its seconds";
        EXPECT_EQ(sent.back().nNs, (kT0Ms + 30000) * kMs);
        const size_t nPackets = sent.size() - 2;
        EXPECT_EQ(nPackets, 5u + (30 - (sent[7].nNs / kMs - kT0Ms) / 1000 + 1)) << k;
    }
    EXPECT_NE(returns.front(), returns.back()) << "not all at once";
    EXPECT_EQ(run.faults.Count(CFaultCounts::kOutage), 4u);
    EXPECT_EQ(run.stats.Online(), 4u) << "all back online";
    EXPECT_EQ(run.stats.Sent() + run.faults.Count(CFaultCounts::kOffline), 4u * (1 + 31 + 1));
}

namespace {

// A packet's counter in a datagram: "n":VALUE.
int CounterOf(const std::string& bytes)
{
    return std::stoi(bytes.substr(bytes.find("\"n\":") + 4));
}

}  // namespace

// An interval paces each device on absolute deadlines: packet j one
// interval after packet j - 1, the first the first check after the device
// came online (spread: k/N of an interval after the start), without drift.
TEST_F(CFleetTrafficTest, AnIntervalPacesEachDeviceOnItsDeadlines)
{
    const auto pPackets = MakePackets({"{\"IMEI\":\"1\",\"n\":0}"});
    CDelay interval;
    ASSERT_TRUE(CDelay::Read("250ms", interval).IsOk());
    const CTrafficConfig config = Traffic({}, 3);
    const CPace pace(4, interval, 0, 3, true);
    TrafficRun run;
    RunTraffic(run, config, Mode(SendModes::kEverySecond, "n"), *pPackets, 4, 0, 4, kT0Ms, kT0Ms + 60000, true, 0,
               &pace);
    for (uint32_t k = 0; k < 4; ++k) {
        const std::vector<FleetDatagram> sent = DatagramsOf(run.sent, k);
        const int64_t nInfoNs = kT0Ms * kMs + k * 250 * kMs / 4;
        ASSERT_TRUE(IsInfo(sent.front().bytes));
        // Whole 0.5 ms steps of the wake grid at the latest.
        EXPECT_LT(sent.front().nNs - nInfoNs, kMs / 2);
        // One a quarter second from 100 ms after the device came online.
        ASSERT_EQ(sent.size(), 1u + (60000 * kMs - (nInfoNs - kT0Ms * kMs) - 100 * kMs) / (250 * kMs) + 1) << k;
        for (size_t j = 1; j < sent.size(); ++j) {
            const int64_t nDueNs = nInfoNs + 100 * kMs + static_cast<int64_t>(j - 1) * 250 * kMs;
            ASSERT_GE(sent[j].nNs, nDueNs) << k << " " << j;
            ASSERT_LT(sent[j].nNs - nDueNs, kMs / 2) << k << " " << j;
            ASSERT_EQ(CounterOf(sent[j].bytes), static_cast<int>(j - 1));
        }
    }
}

// A rate moves every device from its next packet on: a step sends no burst,
// a ramp is followed second by second, and the whole fleet's packets match
// what the rate owed.
TEST_F(CFleetTrafficTest, ARateThatChangesMovesEachDeviceFromItsNextPacketWithoutABurst)
{
    const auto pPackets = MakePackets({"{\"IMEI\":\"1\",\"n\":0}"});
    CTrafficConfig config;
    ASSERT_TRUE(CScenario::ReadText("s.json",
                                    "{\"seed\":5,\"stages\":[{\"at\":\"10s\",\"rate\":\"100/s\"},"
                                    "{\"at\":\"10s\",\"rate\":\"400/s\"},{\"at\":\"20s\",\"rate\":\"400/s\"},"
                                    "{\"at\":\"30s\",\"rate\":\"100/s\"}]}",
                                    config)
                    .IsOk());
    const CPace pace(200, CDelay::Fixed(0), 100, 5, true, config.stages);
    TrafficRun run;
    RunTraffic(run, config, Mode(SendModes::kEverySecond, "n"), *pPackets, 200, 0, 200, kT0Ms, kT0Ms + 40000, true,
               0, &pace);
    // Tenths of the 40 s run, and the instant it ends.
    std::vector<int> perTenth(401, 0);
    for (const FleetDatagram& datagram : run.sent) {
        if (!IsInfo(datagram.bytes))
            ++perTenth[static_cast<size_t>((datagram.nNs - kT0Ms * kMs) / (100 * kMs))];
    }
    int nMost = 0;
    for (size_t i = 0; i < perTenth.size(); ++i) {
        nMost = std::max(nMost, perTenth[i]);
        const double dRate = pace.Curve().RateAt(static_cast<int64_t>(i) * 100 * kMs);
        if (i >= 20 && i < 95) {
            EXPECT_NEAR(perTenth[i], 10, 2) << i;
        } else if (i >= 120 && i < 195) {
            EXPECT_NEAR(perTenth[i], 40, 3) << i;
        } else if (i >= 200 && i < 300) {
            EXPECT_NEAR(perTenth[i], dRate / 10, 3) << "the ramp down, at " << i;
        }
    }
    EXPECT_LE(nMost, 43) << "no burst at the step";
    for (const int64_t nSecond : {5, 15, 25, 35}) {
        int nSent = 0;
        for (int i = 0; i < 10; ++i)
            nSent += perTenth[static_cast<size_t>(nSecond * 10 + i)];
        const double dOwed = pace.Curve().Between(nSecond * 1000 * kMs, (nSecond + 1) * 1000 * kMs);
        EXPECT_NEAR(nSent, dOwed, 0.02 * dOwed + 2) << nSecond;
    }
}

// A step the run adds as it goes (a capacity search's) moves the devices
// as one planned ahead does: the slots they took before it are placed again.
TEST_F(CFleetTrafficTest, AStepAddedWhileTheDevicesWaitMovesThemWithoutABurstOrAGap)
{
    // The step comes with the first datagram sent at or after its instant.
    class CSteppingSink : public CFakeFleetSink {
    public:
        CSteppingSink(CFakeFleetClock& clock, CPace& pace) : CFakeFleetSink(clock), m_clock(clock), m_pace(pace) {}
        bool Send(uint32_t nDevice, const char* pData, size_t nLength) override
        {
            const int64_t nRunNs = m_clock.NowNs() - kT0Ms * kMs;
            for (const auto& [nAtNs, dRate] : {std::make_pair(10000 * kMs, 400.0), std::make_pair(20000 * kMs, 100.0)}) {
                if (nRunNs >= nAtNs && m_pace.Curve().RateAt(nAtNs) != dRate)
                    m_pace.Curve().Step(nAtNs, dRate);
            }
            return CFakeFleetSink::Send(nDevice, pData, nLength);
        }

    private:
        CFakeFleetClock& m_clock;
        CPace& m_pace;
    };
    const auto pPackets = MakePackets({"{\"IMEI\":\"1\",\"n\":0}"});
    CFleetPlan plan;
    plan.Build(Mode(SendModes::kEverySecond, "n"), TovrikTexts::kDeviceInfo, *pPackets, nullptr);
    CPace pace(200, CDelay::Fixed(0), 100, 5, true);
    CFakeFleetClock clock(kT0Ms * kMs, (kT0Ms + 30000) * kMs);
    CSteppingSink sink(clock, pace);
    CFleetStats stats;
    CFleetEngine::Settings settings;
    settings.nFleetDevices = 200;
    settings.nDevices = 200;
    settings.bSpread = true;
    settings.pPace = &pace;
    {
        CFleetEngine engine(plan, settings, clock, sink, stats);
        ASSERT_TRUE(engine.Start().IsOk());
        engine.Wait();
    }
    std::vector<int> perTenth(300, 0);
    for (const FleetDatagram& datagram : sink.m_sent) {
        if (!IsInfo(datagram.bytes))
            ++perTenth[static_cast<size_t>((datagram.nNs - kT0Ms * kMs - CSendSchedule::kFirstCheckNs) / (100 * kMs))];
    }
    for (size_t i = 30; i < 290; ++i)
        EXPECT_NEAR(perTenth[i], i >= 100 && i < 200 ? 40 : 10, 2) << "at " << i << " tenths of a second";
}

// Intervals drawn per device, faults and a change of rate: one engine and
// two shards send every device the same datagrams, packet by packet.
TEST_F(CFleetTrafficTest, APacedRunReplaysFromItsSeedInOneProcessOrShards)
{
    const auto pPackets = MakePackets({"{\"IMEI\":\"1\",\"n\":0,\"v\":1}"});
    CTrafficConfig config = Traffic({{"loss", "20%"}, {"vary", "v=uniform(0,100)"}}, 77);
    ASSERT_TRUE(CScenario::ReadText("s.json", "{\"stages\":[{\"at\":\"20s\",\"rate\":\"3/s\"}]}", config).IsOk());
    config.seed = 77;
    config.start.faults.loss.dProbability = 0.2;
    CDelay interval;
    ASSERT_TRUE(CDelay::Read("uniform(1s,3s)", interval).IsOk());
    std::map<uint64_t, std::vector<std::string>> whole;
    std::map<uint64_t, std::vector<std::string>> sharded;
    const CPace pace(6, interval, 0, 77, true, config.stages);
    TrafficRun one;
    RunTraffic(one, config, Mode(SendModes::kEverySecond, "n"), *pPackets, 6, 0, 6, kT0Ms, kT0Ms + 40000, true, 0,
               &pace);
    one.Into(whole);
    for (uint64_t nFirst : {0, 3}) {
        const CPace shardPace(6, interval, 0, 77, true, config.stages);
        TrafficRun shard;
        RunTraffic(shard, config, Mode(SendModes::kEverySecond, "n"), *pPackets, 6, nFirst, 3, kT0Ms + 321,
                   kT0Ms + 321 + 40000, true, 0, &shardPace);
        shard.Into(sharded);
    }
    ASSERT_EQ(whole.size(), 6u);
    EXPECT_EQ(whole, sharded);
    EXPECT_NE(whole[0].size(), whole[1].size()) << "each device its own interval";
    EXPECT_GT(one.faults.Count(CFaultCounts::kLoss), 5u);
}
