#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/CStopSource.h"
#include "net/LoopbackPeer.h"
#include "receive/CReceiveRun.h"

namespace {

// The steady clock stands still until the test moves it; the calendar is the
// system's, as the kernel stamps arrivals on it.
class CFakeReceiveClock : public CReceiveClock {
public:
    int64_t SteadyNs() override { return m_nSteadyNs.load(); }
    int64_t UnixNs() override { return CReceiveClock::System().UnixNs(); }
    void Advance(int64_t nNs) { m_nSteadyNs += nNs; }

private:
    std::atomic<int64_t> m_nSteadyNs{1000000000};
};

class CTestStop : public CStopSource {
public:
    bool Wait(int nMilliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(nMilliseconds, 5)));
        return m_bStop.load();
    }
    std::atomic<bool> m_bStop{false};
};

}  // namespace

// A run driven as any front end drives it: delayed answers wait on the run's
// own clock, and the record tells what came, what was lost and what was
// answered.
TEST(CReceiveRunTest, AnswersWaitOnTheRunsClockAndTheRecordTellsTheRun)
{
    CReceiveConfig config;
    config.strAddress = "127.0.0.1";
    config.nPort = 0;
    config.strCounter = "packnum";
    config.nAnswer = CReceiveConfig::Answer::kEcho;
    ASSERT_TRUE(CDelay::Read("10s", config.answerDelay).IsOk());
    CFakeReceiveClock clock;
    CReceiveRun run(config, clock);
    ASSERT_TRUE(run.Check().IsOk());
    ASSERT_TRUE(run.Open().IsOk());
    const std::string strListen = run.ListenText();
    const uint16_t nPort = static_cast<uint16_t>(std::stoi(strListen.substr(strListen.rfind(':') + 1)));

    CTestStop stop;
    CReceiveRun::Observer observer;
    CStatus ran;
    std::thread runner([&] { ran = run.Run(stop, observer); });
    LoopbackPeer peer;
    std::vector<std::string> sent;
    for (const int n : {1, 2, 4}) {
        sent.push_back("{\"IMEI\":\"7\",\"packnum\":" + std::to_string(n) + "}");
        ASSERT_TRUE(peer.SendTo(nPort, sent.back()));
    }
    std::string strAnswer;
    EXPECT_FALSE(peer.Receive(strAnswer, 300)) << "held for ten seconds of the run's clock: " << strAnswer;
    std::vector<std::string> answers;
    for (int i = 0; i < 100 && answers.size() < sent.size(); ++i) {
        clock.Advance(10000000000);
        while (peer.Receive(strAnswer, 50))
            answers.push_back(strAnswer);
    }
    stop.m_bStop.store(true);
    runner.join();
    ASSERT_TRUE(ran.IsOk()) << ran.Message();
    EXPECT_EQ(answers, sent) << "each echoed once its time came, in order";

    const CReceiveRun::Result result = run.Finish();
    const CReceiveRecord& record = result.record;
    EXPECT_EQ(record.nDatagrams, 3u);
    EXPECT_EQ(record.nDevices, 1u);
    EXPECT_EQ(record.nExpected, 4u);
    EXPECT_EQ(record.nLost, 1u) << "3 never came";
    EXPECT_EQ(record.nAnswersSent, 3u);
    EXPECT_EQ(record.strAnswerDelay, "10s");
    EXPECT_FALSE(result.bCrossed);
    EXPECT_TRUE(result.written.IsOk());
}
