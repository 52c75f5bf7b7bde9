#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TzGuard.h"
#include "schedule/SendModes.h"
#include "send/FakeSendEnvironment.h"
#include "send/SendWorker.h"

namespace {

const char kInfo[] = "{\"cmd\":\"push_info\",\"IMEI\":\"1\"}";
// 2026-12-08 10:00:00 UTC: a whole hour, minute and ten seconds.
constexpr int64_t kT0 = 1796724000;

SendSettings Settings(std::optional<SendModes::Mode> mode, bool bLoop = true, bool bModifyTime = true)
{
    SendSettings settings;
    settings.mode = mode;
    settings.strDeviceInfo = kInfo;
    settings.strTargetIp = "127.0.0.1";
    settings.nTargetPort = 51609;
    settings.bLoop = bLoop;
    settings.bModifyTime = bModifyTime;
    return settings;
}

// One worker run on a fake clock, synchronously on the test's thread.
struct WorkerRig {
    explicit WorkerRig(int64_t nStartMs) : clock(nStartMs), sink(clock), notify(sink) {}

    // Runs until the worker ends by itself, or clears the running flag in
    // tick nMaxTicks. onTick runs at the start of every tick, after the sleep.
    void Run(const SendSettings& settings, std::unique_ptr<PacketList> pPackets,
             std::unique_ptr<TimeIndex> pIndex = nullptr, int nMaxTicks = 1000,
             std::function<void(CFakeClock&, int, std::atomic<bool>&)> onTick = {})
    {
        std::atomic<bool> bRunning{true};
        clock.m_onSleep = [&](CFakeClock& c, int nTick) {
            if (onTick)
                onTick(c, nTick, bRunning);
            if (nTick >= nMaxTicks)
                bRunning = false;
        };
        clock.m_inSleep = [&](CFakeClock& c, int nTick) {
            if (inSleep)
                inSleep(c, nTick, bRunning);
        };
        SendWorker worker(settings, std::move(pPackets), std::move(pIndex), bRunning, clock, sink, notify);
        worker.Run();
        clock.m_onSleep = nullptr;
        clock.m_inSleep = nullptr;
    }

    // The datagrams after the device info message.
    std::vector<SentDatagram> Packets() const { return {sink.m_sent.begin() + 1, sink.m_sent.end()}; }
    std::vector<std::string> Bytes() const
    {
        std::vector<std::string> bytes;
        for (const SentDatagram& sent : Packets())
            bytes.push_back(sent.bytes);
        return bytes;
    }
    std::vector<int64_t> Seconds() const
    {
        std::vector<int64_t> seconds;
        for (const SentDatagram& sent : Packets())
            seconds.push_back(sent.nMs / 1000 - kT0);
        return seconds;
    }

    CFakeClock clock;
    CFakeSink sink;
    CFakeNotify notify;
    // Runs inside every sleep of Run(), as another thread would.
    std::function<void(CFakeClock&, int, std::atomic<bool>&)> inSleep;
};

using Strings = std::vector<std::string>;
using Seconds = std::vector<int64_t>;

// A tick hook that moves the clock by nDeltaMs once, the first time it reads
// nAtMs.
std::function<void(CFakeClock&, int, std::atomic<bool>&)> MoveOnce(int64_t nAtMs, int64_t nDeltaMs)
{
    auto pDone = std::make_shared<bool>(false);
    return [=](CFakeClock& clock, int, std::atomic<bool>&) {
        if (!*pDone && clock.Ms() == nAtMs) {
            *pDone = true;
            clock.Move(nDeltaMs);
        }
    };
}

class SendWorkerTest : public ::testing::Test {
protected:
    SendWorkerTest() : m_tz("UTC0") {}
    TzGuard m_tz;
};

void ExpectFirstTicksOfTheirSeconds(const WorkerRig& rig)
{
    for (const SentDatagram& sent : rig.Packets())
        EXPECT_LT(sent.nMs % 1000, 100) << sent.nMs;
}

}  // namespace

TEST_F(SendWorkerTest, SendsTheDeviceInfoMessageFirstInEveryRun)
{
    // Every mode, and none selected.
    for (const int nMode : {0, 1, 2, 3, 4, 5, 6, -1}) {
        WorkerRig rig(kT0 * 1000);
        // Nothing else can go out: the packet is not JSON and every mode but
        // the raw timed ones rewrites it.
        rig.Run(Settings(SendModes::ModeAt(nMode)), MakePackets({"{not json}"}), nullptr, 30);
        ASSERT_FALSE(rig.sink.m_sent.empty()) << int(nMode);
        EXPECT_EQ(rig.sink.m_sent[0].bytes, kInfo);
        EXPECT_EQ(rig.sink.m_sent[0].nMs, kT0 * 1000) << "before the first tick";
        EXPECT_EQ(rig.sink.m_sent[0].strTarget, "127.0.0.1");
        EXPECT_EQ(rig.sink.m_sent[0].nPort, 51609);
        EXPECT_EQ(rig.sink.m_sent.size(), 1u) << int(nMode);
        EXPECT_EQ(rig.notify.m_nEnds, 1);
    }
}

TEST_F(SendWorkerTest, EverySecondLoopsThroughThePacketsAtTheFirstTickOfEachSecond)
{
    WorkerRig rig(kT0 * 1000 + 50);
    rig.Run(Settings(SendModes::kEverySecond, true, false), MakePackets({"{A}", "{B}"}), nullptr, 35);
    EXPECT_EQ(rig.Bytes(), (Strings{"{A}", "{B}", "{A}", "{B}"}));
    EXPECT_EQ(rig.Seconds(), (Seconds{0, 1, 2, 3}));
    EXPECT_EQ(rig.Packets()[0].nMs, kT0 * 1000 + 150) << "the first packet goes at the first tick";
    for (size_t i = 1; i < rig.Packets().size(); ++i)
        EXPECT_EQ(rig.Packets()[i].nMs % 1000, 50) << "the first tick of a new second";
    EXPECT_EQ(rig.notify.m_ticks.size(), 35u);
}

TEST_F(SendWorkerTest, EverySecondWithoutLoopEndsAtTheFirstTickOfTheFollowingSecond)
{
    WorkerRig rig(kT0 * 1000 + 50);
    rig.Run(Settings(SendModes::kEverySecond, false, false), MakePackets({"{A}", "{B}"}));
    EXPECT_EQ(rig.Seconds(), (Seconds{0, 1}));
    EXPECT_EQ(rig.clock.Ms(), (kT0 + 2) * 1000 + 50);
    EXPECT_EQ(rig.notify.m_nEnds, 1);
    EXPECT_EQ(rig.notify.m_nSentAtEnd, 3u);
    EXPECT_EQ(rig.notify.m_nEventsAfterEnd[1], 0) << "the end notice is the last act";
}

TEST_F(SendWorkerTest, EveryTenSecondsWaitsForReadingsThatAreMultiplesOfTen)
{
    WorkerRig rig((kT0 + 3) * 1000);
    rig.Run(Settings(SendModes::kEveryTenSeconds, true, false), MakePackets({"{A}"}), nullptr, 250);
    EXPECT_EQ(rig.Seconds(), (Seconds{10, 20}));
    ExpectFirstTicksOfTheirSeconds(rig);
}

TEST_F(SendWorkerTest, EveryMinuteSendsAtWholeMinutesAndEndsAMinuteAfterTheLast)
{
    WorkerRig rig((kT0 + 30) * 1000);
    rig.Run(Settings(SendModes::kEveryMinute, false, false), MakePackets({"{A}"}), nullptr, 5000);
    EXPECT_EQ(rig.Seconds(), (Seconds{60}));
    EXPECT_EQ(rig.notify.m_nEnds, 1);
    EXPECT_GE(rig.clock.Ms(), (kT0 + 120) * 1000);
    EXPECT_LT(rig.clock.Ms(), (kT0 + 120) * 1000 + 100);
}

TEST_F(SendWorkerTest, EveryHourSendsAtWholeHours)
{
    WorkerRig rig((kT0 + 3590) * 1000);
    rig.Run(Settings(SendModes::kEveryHour, false, false), MakePackets({"{A}"}), nullptr, 100000);
    EXPECT_EQ(rig.Seconds(), (Seconds{3600}));
    EXPECT_GE(rig.clock.Ms(), (kT0 + 7200) * 1000);
    EXPECT_LT(rig.clock.Ms(), (kT0 + 7200) * 1000 + 100);
}

TEST_F(SendWorkerTest, EveryHourFollowsTheLocalClockAndAClockSetBackOntoAWholeHour)
{
    // Half an hour off the epoch's hours: 10:00 UTC is 15:30 here.
    const TzGuard zone("IST-5:30");
    WorkerRig rig((kT0 - 10) * 1000);
    // Once sent at 16:00:00, the clock goes back to 15:00:00.5 and sends again.
    rig.Run(Settings(SendModes::kEveryHour, true, false), MakePackets({"{A}"}), nullptr, 56000,
            MoveOnce((kT0 + 1800) * 1000 + 500, -3600 * 1000));
    EXPECT_EQ(rig.Seconds(), (Seconds{1800, -1800, 1800}));
    ASSERT_EQ(rig.Packets().size(), 3u);
    EXPECT_EQ(rig.Packets()[0].nMs, (kT0 + 1800) * 1000);
    EXPECT_EQ(rig.Packets()[1].nMs, (kT0 - 1800) * 1000 + 500) << "at once, in the whole hour it went back to";
}

TEST_F(SendWorkerTest, Every100MsMarksEachPacketOnceAndEndsAtTheNextTick)
{
    WorkerRig rig(kT0 * 1000);
    rig.Run(Settings(SendModes::kEvery100Ms, true, true),
            MakePackets({"{\"a\":1,\"time\":\"t\"}", "{\"b\":2}", "{\"c\":3,\"make_up\":0}"}));
    EXPECT_EQ(rig.Bytes(), (Strings{"{\"a\":1,\"time\":\"t\",\"make_up\":1}", "{\"b\":2,\"make_up\":1}",
                                    "{\"c\":3,\"make_up\":0,\"make_up\":1}"}));
    std::vector<int64_t> offsets;
    for (const SentDatagram& sent : rig.Packets())
        offsets.push_back(sent.nMs - kT0 * 1000);
    EXPECT_EQ(offsets, (std::vector<int64_t>{100, 200, 300}));
    EXPECT_EQ(rig.notify.m_ticks.size(), 4u);
    EXPECT_EQ(rig.notify.m_nEnds, 1);
}

TEST_F(SendWorkerTest, Every10MsTicksTenMillisecondsAfterAFirstTickOf100)
{
    WorkerRig rig(kT0 * 1000);
    rig.Run(Settings(SendModes::kEvery10Ms), MakePackets({"{\"a\":1}", "{\"b\":2}", "{\"c\":3}"}));
    std::vector<int64_t> offsets;
    for (const SentDatagram& sent : rig.Packets())
        offsets.push_back(sent.nMs - kT0 * 1000);
    EXPECT_EQ(offsets, (std::vector<int64_t>{100, 110, 120}));
    EXPECT_EQ(rig.clock.m_sleeps, (std::vector<int>{100, 10, 10, 10}));
    EXPECT_EQ(rig.notify.m_nEnds, 1);
}

TEST_F(SendWorkerTest, RewriteStampsTheTicksLocalTimeAsTheLastMember)
{
    TzGuard tz("CST-8");
    WorkerRig rig(kT0 * 1000);
    rig.Run(Settings(SendModes::kEverySecond, false, true),
            MakePackets({"{\"a\":1,\"time\":\"x\",\"b\":2}", "{\"time\":1,\"time\":2}"}));
    EXPECT_EQ(rig.Bytes(), (Strings{"{\"a\":1,\"b\":2,\"time\":\"2026-12-08 18:00:00\"}",
                                    "{\"time\":\"2026-12-08 18:00:01\"}"}));
}

TEST_F(SendWorkerTest, WithoutRewriteThePacketGoesAsCut)
{
    const std::string raw = "{\n  \"a\" : 1,\r\n\t\"time\": \"old\"\n}";
    WorkerRig rig(kT0 * 1000);
    rig.Run(Settings(SendModes::kEverySecond, false, false), MakePackets({raw}));
    EXPECT_EQ(rig.Bytes(), (Strings{raw}));
}

TEST_F(SendWorkerTest, APacketThatCannotBeRewrittenHoldsBackTheRestOfTheList)
{
    for (const SendModes::Mode nMode : {SendModes::kEverySecond, SendModes::kEvery100Ms}) {
        WorkerRig rig(kT0 * 1000);
        rig.Run(Settings(nMode, true, true), MakePackets({"{bad}", "{\"ok\":1}"}), nullptr, 40);
        EXPECT_TRUE(rig.Packets().empty()) << int(nMode);
        EXPECT_EQ(rig.notify.m_ticks.size(), 40u) << "the ticks go on until stopped";
        EXPECT_EQ(rig.notify.m_nEnds, 1);
    }
}

TEST_F(SendWorkerTest, ClockSetBackHoldsTheSecondModesUntilTheLastSendIsPassed)
{
    // Sends at T0 and T0+1; at T0+1.5 the clock goes back ten seconds.
    WorkerRig second(kT0 * 1000);
    second.Run(Settings(SendModes::kEverySecond, true, false), MakePackets({"{A}"}), nullptr, 135,
               MoveOnce((kT0 + 1) * 1000 + 500, -10000));
    // Back at T0-8.5; the next send waits for T0+2 (12.5 s of ticks later).
    EXPECT_EQ(second.Seconds(), (Seconds{0, 1, 2, 3}));

    WorkerRig ten(kT0 * 1000);
    ten.Run(Settings(SendModes::kEveryTenSeconds, true, false), MakePackets({"{A}"}), nullptr, 400,
            MoveOnce((kT0 + 15) * 1000, -20000));
    // T0 at the first tick; set back to T0-5 at T0+15; T0+10 and T0+20 come
    // again only after the clock passes T0 again.
    EXPECT_EQ(ten.Seconds(), (Seconds{0, 10, 20}));
}

TEST_F(SendWorkerTest, ClockSetBackByWholeMinutesSendsAtOnceInTheMinuteMode)
{
    WorkerRig rig((kT0 + 30) * 1000);
    rig.Run(Settings(SendModes::kEveryMinute, true, false), MakePackets({"{A}"}), nullptr, 700,
            MoveOnce((kT0 + 60) * 1000 + 500, -60000));
    // Sent at T0+60; at T0+60.5 back to T0+0.5, a whole minute behind: due.
    EXPECT_EQ(rig.Seconds(), (Seconds{60, 0}));
}

TEST_F(SendWorkerTest, TickNoticeCarriesTheLow32BitsOfTheReading)
{
    const int64_t nStart = (int64_t{1} << 32) + 5;
    WorkerRig rig(nStart * 1000);
    rig.Run(Settings(std::nullopt), MakePackets({"{A}"}), nullptr, 25);
    ASSERT_EQ(rig.notify.m_ticks.size(), 25u);
    EXPECT_EQ(rig.notify.m_ticks.front(), 5u);
    EXPECT_EQ(rig.notify.m_ticks.back(), 7u);
    EXPECT_EQ(rig.sink.m_sent.size(), 1u);
}

TEST_F(SendWorkerTest, ClearingTheFlagEndsTheRunAfterTheCurrentTick)
{
    WorkerRig rig((kT0 + 1) * 1000);
    rig.Run(Settings(SendModes::kEveryMinute), MakePackets({"{\"a\":1}"}), nullptr, 3);
    EXPECT_EQ(rig.notify.m_ticks.size(), 3u);
    EXPECT_EQ(rig.notify.m_nEnds, 1);
    EXPECT_TRUE(rig.Packets().empty());
}

// The stop button's path: the flag cleared, then the sleep woken.
TEST_F(SendWorkerTest, AStopDuringTheSleepEndsTheRunThereWithoutAnotherStep)
{
    for (const bool bWake : {true, false}) {
        WorkerRig rig(kT0 * 1000);
        rig.inSleep = [bWake](CFakeClock& clock, int nTick, std::atomic<bool>& bRunning) {
            if (nTick != 3)
                return;
            clock.Move(30);
            bRunning = false;
            if (bWake)
                clock.Wake();
        };
        rig.Run(Settings(SendModes::kEvery100Ms), MakePackets({"{\"n\":1}", "{\"n\":2}", "{\"n\":3}", "{\"n\":4}"}));
        EXPECT_EQ(rig.Bytes(), (Strings{"{\"n\":1,\"make_up\":1}", "{\"n\":2,\"make_up\":1}"})) << bWake;
        EXPECT_EQ(rig.notify.m_ticks.size(), 2u);
        EXPECT_EQ(rig.notify.m_nEnds, 1);
        EXPECT_EQ(rig.notify.m_nSentAtEnd, 3u);
        // Woken, it ends 30 ms into the sleep; unwoken, at the sleep's end.
        EXPECT_EQ(rig.clock.Ms() - kT0 * 1000, bWake ? 230 : 300);
    }
}

class ReplayTest : public SendWorkerTest {
protected:
    // Messages of 10:00:00 (two) and 10:00:01, and their index.
    void Load(std::initializer_list<std::pair<int64_t, std::string>> messages)
    {
        m_pPackets = std::make_unique<PacketList>();
        m_pIndex = std::make_unique<TimeIndex>();
        for (const auto& message : messages) {
            std::unique_ptr<char[]> block(new char[message.second.size()]);
            std::memcpy(block.get(), message.second.data(), message.second.size());
            const Packet packet{block.get(), static_cast<int32_t>(message.second.size())};
            m_pPackets->Add(std::move(block), packet.length);
            (*m_pIndex)[message.first].push_back(packet);
        }
    }

    std::unique_ptr<PacketList> m_pPackets;
    std::unique_ptr<TimeIndex> m_pIndex;
};

TEST_F(ReplayTest, SendsTheMessagesOfASecondBackToBackAtItsFirstTickWithTodaysDate)
{
    Load({{36000, "{\"n\":1,\"time\":\"2020-01-01 10:00:00\"}"},
          {36000, "{\"n\":2,\"time\":\"2019-05-05 10:00:00\"}"},
          {36001, "{\"n\":3,\"time\":\"2020-01-01 10:00:01\"}"}});
    WorkerRig rig(kT0 * 1000 - 450);
    // Loop and rewrite are off: replay stamps all the same.
    rig.Run(Settings(SendModes::kReplay, false, false), std::move(m_pPackets), std::move(m_pIndex), 30);
    EXPECT_EQ(rig.Bytes(), (Strings{"{\"n\":1,\"time\":\"2026-12-08 10:00:00\"}",
                                    "{\"n\":2,\"time\":\"2026-12-08 10:00:00\"}",
                                    "{\"n\":3,\"time\":\"2026-12-08 10:00:01\"}"}));
    EXPECT_EQ(rig.Packets()[0].nMs, rig.Packets()[1].nMs);
    EXPECT_EQ(rig.Seconds(), (Seconds{0, 0, 1}));
    ExpectFirstTicksOfTheirSeconds(rig);
}

TEST_F(ReplayTest, GoesOnDayAfterDayAndAcrossMidnight)
{
    Load({{86399, "{\"n\":\"last\"}"}, {0, "{\"n\":\"first\"}"}, {36000, "{\"n\":\"ten\"}"}});
    WorkerRig rig(kT0 * 1000 - 500);
    // Jump from 10:00:01 to 23:59:58, then from the next day's 00:00:01 to
    // its 09:59:59.
    rig.Run(Settings(SendModes::kReplay), std::move(m_pPackets), std::move(m_pIndex), 200,
            [toNight = MoveOnce((kT0 + 1) * 1000 + 500, (14 * 3600 - 3) * 1000),
             toMorning = MoveOnce((kT0 + 14 * 3600 + 1) * 1000 + 500, (10 * 3600 - 3) * 1000)](
                CFakeClock& clock, int nTick, std::atomic<bool>& bRunning) {
                toNight(clock, nTick, bRunning);
                toMorning(clock, nTick, bRunning);
            });
    EXPECT_EQ(rig.Bytes(), (Strings{"{\"n\":\"ten\",\"time\":\"2026-12-08 10:00:00\"}",
                                    "{\"n\":\"last\",\"time\":\"2026-12-08 23:59:59\"}",
                                    "{\"n\":\"first\",\"time\":\"2026-12-09 00:00:00\"}",
                                    "{\"n\":\"ten\",\"time\":\"2026-12-09 10:00:00\"}"}));
}

TEST_F(ReplayTest, ClockSetBackRepeatsTheSecondsAndSetForwardSkipsThem)
{
    Load({{36000, "{\"n\":0}"}, {36001, "{\"n\":1}"}, {36060, "{\"n\":60}"}});
    WorkerRig back(kT0 * 1000 - 500);
    back.Run(Settings(SendModes::kReplay), std::move(m_pPackets), std::move(m_pIndex), 3500,
             MoveOnce((kT0 + 2) * 1000 + 500, -300000));
    // 10:00:00 and 10:00:01 went out, the clock went back to 09:55:02.5, and
    // both went out again as their seconds recurred.
    EXPECT_EQ(back.Seconds(), (Seconds{0, 1, 0, 1}));
    std::vector<std::string> texts;
    for (const std::string& bytes : back.Bytes())
        texts.push_back(bytes.substr(0, 7));
    EXPECT_EQ(texts, (Strings{"{\"n\":0,", "{\"n\":1,", "{\"n\":0,", "{\"n\":1,"}));

    Load({{36000, "{\"n\":0}"}, {36060, "{\"n\":60}"}, {36400, "{\"n\":400}"}});
    WorkerRig forward(kT0 * 1000 - 500);
    forward.Run(Settings(SendModes::kReplay), std::move(m_pPackets), std::move(m_pIndex), 40,
                MoveOnce(kT0 * 1000 + 500, 398000));
    // 10:00:00, then the clock is at 10:06:38: 10:01:00 is never sent.
    EXPECT_EQ(forward.Seconds(), (Seconds{0, 400}));
}

TEST_F(ReplayTest, ClockSetBackIntoASecondWithAMessageSendsItAgainAtTheNextTick)
{
    Load({{36000, "{\"n\":0}"}, {36001, "{\"n\":1}"}});
    WorkerRig rig(kT0 * 1000 - 400);
    // Ticks at whole tenths; from 10:00:01.5 back to 10:00:00.5.
    rig.Run(Settings(SendModes::kReplay), std::move(m_pPackets), std::move(m_pIndex), 30,
            MoveOnce((kT0 + 1) * 1000 + 500, -1000));
    EXPECT_EQ(rig.Seconds(), (Seconds{0, 1, 0, 1}));
    ASSERT_EQ(rig.Packets().size(), 4u);
    EXPECT_EQ(rig.Packets()[2].nMs, kT0 * 1000 + 600) << "the tick after the one that saw the clock go back";
}

TEST_F(ReplayTest, StopDuringASecondStillSendsAllItsMessages)
{
    Load({{36000, "{\"n\":1}"}, {36000, "{\"n\":2}"}, {36000, "{\"n\":3}"}});
    WorkerRig rig(kT0 * 1000 - 50);
    rig.Run(Settings(SendModes::kReplay), std::move(m_pPackets), std::move(m_pIndex), 1);
    EXPECT_EQ(rig.Packets().size(), 3u);
    EXPECT_EQ(rig.notify.m_nEnds, 1);
    EXPECT_EQ(rig.notify.m_nSentAtEnd, 4u);
}

TEST_F(ReplayTest, MessagesThatCannotBeStampedArePassedOver)
{
    Load({{36000, "{bad}"}, {36000, "{\"n\":2}"}});
    WorkerRig rig(kT0 * 1000 - 50);
    rig.Run(Settings(SendModes::kReplay), std::move(m_pPackets), std::move(m_pIndex), 5);
    EXPECT_EQ(rig.Bytes(), (Strings{"{\"n\":2,\"time\":\"2026-12-08 10:00:00\"}"}));
}

TEST_F(ReplayTest, WithoutAnIndexTheRunEndsAtItsFirstTick)
{
    WorkerRig rig(kT0 * 1000);
    rig.Run(Settings(SendModes::kReplay), MakePackets({"{\"IMEI\":1}"}), nullptr, 100);
    EXPECT_EQ(rig.sink.m_sent.size(), 1u);
    EXPECT_EQ(rig.notify.m_ticks.size(), 1u);
    EXPECT_EQ(rig.clock.Ms(), kT0 * 1000 + 100);
    EXPECT_EQ(rig.notify.m_nEnds, 1);

    WorkerRig empty(kT0 * 1000);
    empty.Run(Settings(SendModes::kReplay), MakePackets({"{\"IMEI\":1}"}), std::make_unique<TimeIndex>(), 50);
    EXPECT_EQ(empty.sink.m_sent.size(), 1u);
    EXPECT_EQ(empty.notify.m_ticks.size(), 50u);
}
