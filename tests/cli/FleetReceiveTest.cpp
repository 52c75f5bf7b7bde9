#include <gtest/gtest.h>

#include <chrono>
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
                                     "7", "-q"},
                           CliProcess::Stop::kInterrupt);
    ASSERT_TRUE(receive.WaitListening());
    TempDir dir;
    const std::string stats = dir.Path() + "/stats.json";
    // 100 devices, each its device info message and the one packet: 200
    // datagrams.
    const CliRun fleet = CliProcess::Run({"-p", std::to_string(receive.Port()), "--devices", "100", "-m", "100ms",
                                          "--spread", "--text", std::string(30, ' ') + "{\"IMEI\":\"1\",\"v\":1}",
                                          "--no-loop", "--replies", "-q", "--stop-after", "2.5", "--stats-json",
                                          stats});
    receive.RequestStop();
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

// The faults a fleet injects are what the other end sees: its copies as
// duplicates, its held datagrams as reordered, its losses as gaps in the
// counter; and replies are awaited only for datagrams that left, so the
// server's echo answers every one of them.
TEST(FleetReceiveTest, TheReceiverSeesTheFaultsTheFleetInjects)
{
    TempDir dir;
    const std::string received = dir.Path() + "/received.json";
    ReceiveProcess receive(AF_INET, {"--counter", "packnum", "--answer", "echo", "-q", "--stats-json", received},
                           CliProcess::Stop::kInterrupt);
    ASSERT_TRUE(receive.WaitListening());
    const std::string stats = dir.Path() + "/stats.json";
    // 30 packets a device, 10 a second, for 2.5 s: some 2,500 datagrams.
    std::string strText;
    for (int i = 0; i < 30; ++i)
        strText += "{\"IMEI\":\"1\",\"packnum\":0,\"v\":" + std::to_string(i) + "}";
    const CliRun fleet = CliProcess::Run({"-p", std::to_string(receive.Port()), "--devices", "100", "-m", "100ms",
                                          "--spread", "--text", strText,
                                          "--counter", "packnum", "--loss", "10%", "--duplicate", "5%",
                                          "--reorder", "5%", "--seed", "11", "--replies", "-q",
                                          "--stop-after", "2.5", "--stats-json", stats});
    receive.RequestStop();
    receive.Wait();
    ASSERT_EQ(fleet.nExit, 0) << fleet.err;
    const std::string sent = TempDir::Read(stats);
    const std::string got = TempDir::Read(received);
    const double dLoss = NumberAfter(sent, "\"faults\"", "loss");
    const double dCopies = NumberAfter(sent, "\"faults\"", "duplicate");
    const double dHeld = NumberAfter(sent, "\"faults\"", "reorder");
    ASSERT_GT(dLoss, 100) << sent;
    ASSERT_GT(dCopies, 50) << sent;
    ASSERT_GT(dHeld, 50) << sent;
    const std::string strBoth = sent + "\n" + got;
    // A copy is a duplicate unless the run ended before it left; a loss is
    // a gap unless it was a device's last packet. A held datagram comes
    // after its successor unless that one was lost too or the run ended
    // first (10 % and 6 % of them).
    EXPECT_NEAR(NumberAfter(got, "\"without_counter\"", "duplicates"), dCopies, 0.05 * dCopies) << strBoth;
    EXPECT_NEAR(NumberAfter(got, "\"without_counter\"", "lost"), dLoss, 0.1 * dLoss) << strBoth;
    const double dReordered = NumberAfter(got, "\"without_counter\"", "reordered");
    EXPECT_LE(dReordered, dHeld) << strBoth;
    EXPECT_GE(dReordered, 0.7 * dHeld) << strBoth;
    EXPECT_EQ(NumberAfter(sent, "\"reply_matching\"", "unmatched"), 0) << sent;
    EXPECT_LT(NumberAfter(sent, "\"reply_matching\"", "lost"), 0.01 * NumberAfter(sent, "", "sent") + 5)
        << sent;
}

// The first stop request stops the devices and leaves the replies on their
// way the reply timeout to arrive (a second would end that wait): a server
// that answers two seconds late has every datagram answered.
TEST(FleetReceiveTest, OneStopRequestStillWaitsForTheRepliesOnTheirWay)
{
    ReceiveProcess receive(AF_INET, {"--answer", "echo", "--answer-delay", "2s", "-q"}, CliProcess::Stop::kInterrupt);
    ASSERT_TRUE(receive.WaitListening());
    const auto start = std::chrono::steady_clock::now();
    const CliRun fleet = CliProcess::Run(
        {"-p", std::to_string(receive.Port()), "--devices", "20", "--replies", "--reply-timeout", "5s", "-q",
         "--threshold", "reply_loss==0", "--stop-after", "60"},
        [&start] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(2500); },
        CliProcess::Stop::kInterrupt);
    receive.RequestStop();
    receive.Wait();
    EXPECT_EQ(fleet.nExit, 0) << fleet.out << fleet.err;
    // Those sent in the two seconds before the stop are answered after it.
    EXPECT_NE(fleet.out.find("threshold reply_loss==0: 0.0000 ok"), std::string::npos) << fleet.out;
}

// A capacity search against a server that saturates finds its capacity
// within one step: the last rate that held is at most it, the first that
// crossed above it by no more than a step. Beyond its capacity the server's
// full queue holds answers a tenth of a second and drops the rest, well
// clear of thresholds that a loaded test machine does not cross below it.
TEST(FleetReceiveTest, ACapacitySearchFindsTheServersCapacityWithinOneStep)
{
    ReceiveProcess receive(AF_INET, {"--answer", "echo", "--capacity", "2500/s", "-q"}, CliProcess::Stop::kInterrupt);
    ASSERT_TRUE(receive.WaitListening());
    TempDir dir;
    const std::string stats = dir.Path() + "/stats.json";
    const CliRun fleet = CliProcess::Run({"-p", std::to_string(receive.Port()), "--devices", "500", "--counter",
                                          "packnum", "--reply-match", "packnum", "--reply-timeout", "500ms",
                                          "--find-capacity", "1000/s..8000/s,x2,3s", "--threshold", "rtt_p99<=80ms",
                                          "--threshold", "reply_loss<=1%", "-q", "--stats-json", stats});
    receive.RequestStop();
    receive.Wait();
    ASSERT_EQ(fleet.nExit, 0) << fleet.out << fleet.err;
    const std::string json = TempDir::Read(stats);
    const double dCapacity = NumberAfter(json, "\"settle_s\"", "capacity");
    const double dCrossedAt = NumberAfter(json, "\"settle_s\"", "crossed_at");
    EXPECT_LE(dCapacity, 2500) << json.substr(json.find("\"capacity\":{"));
    EXPECT_GE(dCrossedAt, 2500) << fleet.out;
    EXPECT_EQ(dCrossedAt, 2 * dCapacity) << "one step apart";
    EXPECT_NE(fleet.out.find("capacity: " + std::to_string(static_cast<int>(dCapacity)).insert(1, ",") +
                             " datagrams/s (the last rate that held every threshold); crossed at "),
              std::string::npos)
        << fleet.out;
}

// A fleet of DTLS devices comes back from an outage all at once: every
// device handshakes again, resuming its session, and the receiver takes each
// one's device info message anew in its session; no handshake fails on
// either side.
TEST(DtlsStormTest, AFleetBackFromAnOutageResumesEverySession)
{
    TempDir dir;
    const std::string secret = dir.Write("secret", "a secret the fleet and the receiver share\n");
    const std::string received = dir.Path() + "/received.json";
    ReceiveProcess receive(AF_INET, {"--dtls", "--psk-derive", secret, "-q", "--stats-json", received},
                           CliProcess::Stop::kInterrupt);
    ASSERT_TRUE(receive.WaitListening());
    const std::string stats = dir.Path() + "/stats.json";
    const CliRun fleet = CliProcess::Run({"-p", std::to_string(receive.Port()), "--devices", "1000", "--spread",
                                          "--dtls", "--psk-derive", secret, "--outage", "2s,1s,return=0s", "--seed",
                                          "3", "-q", "--stop-after", "5", "--stats-json", stats});
    receive.RequestStop();
    receive.Wait();
    ASSERT_EQ(fleet.nExit, 0) << fleet.err;
    const std::string json = TempDir::Read(stats);
    EXPECT_EQ(NumberAfter(json, "\"dtls_handshakes\"", "started"), 2000) << json.substr(json.find("\"dtls_"));
    EXPECT_EQ(NumberAfter(json, "\"dtls_handshakes\"", "completed"), 2000);
    EXPECT_EQ(NumberAfter(json, "\"dtls_handshakes\"", "resumed"), 1000);
    for (const char* pszCause : {"key", "not_dtls", "timeout", "refused", "other"})
        EXPECT_EQ(NumberAfter(json, "\"dtls_handshakes\"", pszCause), 0) << pszCause;
    EXPECT_EQ(NumberAfter(json, "\"dtls_handshakes\"", "unsent"), 0);

    const std::string server = TempDir::Read(received);
    EXPECT_EQ(NumberAfter(server, "\"dtls_handshakes\"", "completed"), 2000) << server.substr(server.find("\"dtls_"));
    EXPECT_EQ(NumberAfter(server, "\"dtls_handshakes\"", "resumed"), 1000);
    EXPECT_EQ(NumberAfter(server, "\"dtls_handshakes\"", "timeout"), 0);
    EXPECT_EQ(NumberAfter(server, "", "device_info"), 2000);
}
