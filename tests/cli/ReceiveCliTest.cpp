#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "cli/CliProcess.h"
#include "cli/ReceiveProcess.h"
#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"
#include "net/LoopbackPeer.h"
#include "receive/CAnswerRule.h"

namespace {

using Clock = std::chrono::steady_clock;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string Status(int nCount)
{
    return "{\"cmd\":\"push_msg\",\"IMEI\":\"860000000000001\",\"packnum\":\"" + std::to_string(nCount) + "\"}";
}

std::string PackOf(const std::string& answer)
{
    std::smatch match;
    return std::regex_search(answer, match, std::regex("\"packnum\":\"([0-9]+)\"")) ? match[1].str() : "-";
}

}  // namespace

// A device's traffic with a gap, a duplicate, one reordered and two
// malformed datagrams: the receiver counts them, and answers each message
// that has the members, 80 ms late, dropping those its seed says. The same
// rule run here with the same seed tells which must come back.
TEST(ReceiveCliTest, CountsADevicesTrafficAndAnswersItLateAndLossy)
{
    TempDir dir;
    const std::string stats = dir.Path() + "/receive.json";
    const std::string report = dir.Path() + "/receive.html";
    ReceiveProcess receive(AF_INET, {"--counter", "packnum", "--answer", "members:IMEI,packnum", "--answer-delay",
                                     "80ms", "--answer-drop", "30%", "--seed", "5", "--stop-after", "3",
                                     "--stats-json", stats, "--report", report});
    ASSERT_TRUE(receive.WaitListening());
    std::vector<std::string> datagrams = {"{\"cmd\":\"push_info\",\"IMEI\":\"860000000000001\"}"};
    for (int n = 1; n <= 60; ++n) {
        if (n != 20 && n != 21 && n != 41)
            datagrams.push_back(Status(n));
        if (n == 30)
            datagrams.push_back(Status(30));
        if (n == 42)
            datagrams.push_back(Status(41));
    }
    datagrams.push_back("{\"IMEI\":\"860000000000001\",\"packnum\":\"61\"");
    datagrams.push_back("{\"IMEI\":\"\xFF\"}");

    CReceiveConfig config;
    config.nAnswer = CReceiveConfig::Answer::kMembers;
    config.answerMembers = {"IMEI", "packnum"};
    config.dAnswerDrop = 0.3;
    config.nSeed = 5;
    CAnswerRule rule(config);
    CReceiveTally tally("");
    std::multiset<std::string> expected;
    size_t nDropped = 0;
    for (const std::string& datagram : datagrams) {
        const std::string padded = datagram + std::string(CReceiveTally::kPadding, '\0');
        CAnswerRule::Decision decision;
        rule.Decide(tally.Take(padded.data(), datagram.size(), sockaddr_storage{}, 0), padded.data(),
                    datagram.size(), decision);
        if (decision.nOutcome == CAnswerRule::Outcome::kSend)
            expected.insert(PackOf(decision.bytes));
        nDropped += decision.nOutcome == CAnswerRule::Outcome::kDropped;
    }
    ASSERT_GT(nDropped, 5u);

    LoopbackPeer device;
    std::map<std::string, Clock::time_point> sentAt;
    for (const std::string& datagram : datagrams) {
        sentAt.emplace(PackOf(datagram), Clock::now());
        ASSERT_TRUE(device.SendTo(receive.Port(), datagram));
    }
    std::multiset<std::string> answered;
    std::string answer;
    while (device.Receive(answer, 1000)) {
        const auto nLateMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sentAt[PackOf(answer)]).count();
        EXPECT_GE(nLateMs, 79) << answer;
        // Generous: a busy machine may be slow to run the receiver.
        EXPECT_LE(nLateMs, 1500) << answer;
        EXPECT_EQ(answer.rfind("{\"IMEI\":\"860000000000001\"", 0), 0u) << answer;
        answered.insert(PackOf(answer));
    }
    EXPECT_EQ(answered, expected) << "the answers the seed keeps, and only those";

    const CliRun& run = receive.Wait();
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "answers members:IMEI,packnum delay 80ms drop 0.3, seed 5")) << run.err;
    EXPECT_TRUE(Contains(run.err, "datagrams ")) << "a status line a second";
    EXPECT_TRUE(Contains(run.out, "received 62 datagrams in ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "from 1 devices: 1 device info messages, 2 malformed")) << run.out;
    EXPECT_TRUE(Contains(run.out, "counter \"packnum\": 60 expected, 2 lost")) << run.out;
    EXPECT_TRUE(Contains(run.out, ", 1 duplicates, 1 reordered")) << run.out;
    EXPECT_TRUE(Contains(run.out, "malformed from 127.0.0.1:" + std::to_string(device.Port()) +
                                      ", 12 bytes (not UTF-8): {\"IMEI\":\"\\xFF\"}")) << run.out;
    const std::string json = TempDir::Read(stats);
    EXPECT_TRUE(Contains(json, "\"answers_sent\":" + std::to_string(expected.size()) + ",\"answers_dropped\":" +
                                   std::to_string(nDropped) + ",")) << json;
    EXPECT_TRUE(Contains(json, "\"lost\":2,\"loss\":0.0333333,")) << json;
    EXPECT_TRUE(Contains(TempDir::Read(report), "<h1>Receive run on 127.0.0.1:")) << "the report written";
}

TEST(ReceiveCliTest, ACrossedThresholdExitsThreeOverIpv6)
{
    ReceiveProcess receive(AF_INET6, {"--counter", "packnum", "--threshold", "loss<=1%", "--threshold",
                                      "malformed==0", "-q"},
                           CliProcess::Stop::kInterrupt);
    ASSERT_TRUE(receive.WaitListening());
    LoopbackPeer device(AF_INET6);
    for (const int n : {1, 2, 5})
        ASSERT_TRUE(device.SendTo(receive.Port(), Status(n)));
    receive.RequestStop();
    const CliRun& run = receive.Wait();
    EXPECT_EQ(run.nExit, 3) << run.err;
    EXPECT_EQ(run.out, "threshold loss<=1%: 0.4000 crossed\nthreshold malformed==0: 0 ok\n")
        << "the verdicts only, with -q";
}

TEST(ReceiveCliTest, AStopRequestEndsTheRunWithItsSummary)
{
    for (const CliProcess::Stop stop : {CliProcess::Stop::kInterrupt, CliProcess::Stop::kTerminate}) {
        ReceiveProcess receive(AF_INET, {}, stop);
        ASSERT_TRUE(receive.WaitListening());
        LoopbackPeer device;
        ASSERT_TRUE(device.SendTo(receive.Port(), Status(1)));
        receive.RequestStop();
        const CliRun& run = receive.Wait();
        EXPECT_EQ(run.nExit, 0) << run.err;
        EXPECT_TRUE(Contains(run.out, "received 1 datagrams in ")) << run.out;
    }
}

TEST(ReceiveCliTest, ATakenPortIsSaidAndExitsOne)
{
    LoopbackPeer taken;
    const CliRun run = CliProcess::Run({"receive", "-l", "127.0.0.1:" + std::to_string(taken.Port())});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(Contains(run.err, "cannot listen on 127.0.0.1:" + std::to_string(taken.Port()) + ": ")) << run.err;
}
