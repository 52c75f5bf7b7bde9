#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "TempDir.h"
#include "cli/CliProcess.h"
#include "cli/ReceiveProcess.h"
#include "net/SocketTypes.h"

namespace {

// A member's whole-number value in a stats file: the first after strAfter.
double NumberAfter(const std::string& json, const std::string& strAfter, const std::string& strMember)
{
    const size_t nAt = json.find(strAfter);
    const size_t nMember = json.find("\"" + strMember + "\":", nAt == std::string::npos ? 0 : nAt);
    return nMember == std::string::npos ? -1 : std::stod(json.substr(nMember + strMember.size() + 3));
}

}  // namespace

// A fleet against the other end playing a slow, lossy server: the round
// trips the fleet measures are the server's delay, and its losses the
// server's drops, within what chance allows.
TEST(FleetReceiveTest, TheFleetMeasuresTheDelayAndTheDropsTheReceiverPlays)
{
    ReceiveProcess receive(AF_INET, {"--answer", "echo", "--answer-delay", "20ms", "--answer-drop", "5%", "--seed",
                                     "7", "-q", "--stop-after", "4.5"});
    ASSERT_TRUE(receive.WaitListening());
    TempDir dir;
    const std::string stats = dir.Path() + "/stats.json";
    // 100 devices, 10 datagrams a second each, for 2.5 s: some 2,600
    // datagrams, their device info messages included.
    const CliRun fleet = CliProcess::Run({"-p", std::to_string(receive.Port()), "--devices", "100", "-m", "100ms",
                                          "--spread", "--text", std::string(30, ' ') + "{\"IMEI\":\"1\",\"v\":1}",
                                          "--no-loop", "--replies", "-q", "--stop-after", "2.5", "--stats-json",
                                          stats});
    receive.Wait();
    ASSERT_EQ(fleet.nExit, 0) << fleet.err;
    const std::string json = TempDir::Read(stats);
    const double dMatched = NumberAfter(json, "\"reply_matching\"", "matched");
    const double dLost = NumberAfter(json, "\"reply_matching\"", "lost");
    ASSERT_GT(dMatched + dLost, 150) << json.substr(json.find("\"reply_matching\""));
    // Drops are 5 % each, independently: within four standard deviations.
    const double dTracked = dMatched + dLost;
    const double dSigma = std::sqrt(dTracked * 0.05 * 0.95);
    EXPECT_NEAR(dLost, dTracked * 0.05, 4 * dSigma) << json.substr(json.find("\"reply_matching\""));
    EXPECT_EQ(NumberAfter(json, "\"reply_matching\"", "unmatched"), 0);
    EXPECT_EQ(NumberAfter(json, "\"reply_matching\"", "late"), 0);
    // The delay and the loopback's own few milliseconds at most.
    const double dP50 = NumberAfter(json, "\"rtt_ms\"", "p50");
    EXPECT_GE(dP50, 19.5);
    EXPECT_LE(dP50, 30.0);
}
