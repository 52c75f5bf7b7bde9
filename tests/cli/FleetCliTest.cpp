#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ProcessStats.h"
#include "TempDir.h"
#include "cli/CliProcess.h"
#include "net/LoopbackPeer.h"
#include "time/CLocalTime.h"

namespace {

CliRun RunCli(const std::vector<std::string>& args, int nStopAfterMs = -1,
              CliProcess::Stop stop = CliProcess::Stop::kNone)
{
    return CliProcess::Run(args, nStopAfterMs, stop);
}

std::string Port(const LoopbackPeer& peer)
{
    return std::to_string(peer.Port());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t nCount = 0;
    for (size_t nAt = text.find(part); nAt != std::string::npos; nAt = text.find(part, nAt + 1))
        ++nCount;
    return nCount;
}

// Local time of a clock reading, formatted.
std::string LocalTime(time_t t, const char* pszPattern)
{
    char text[64];
    struct tm local {};
    CLocalTime::Split(static_cast<int64_t>(t), local);
    return std::string(text, strftime(text, sizeof text, pszPattern, &local));
}

// The datagrams a peer got, by the sender's port.
std::map<uint16_t, std::vector<std::string>> ReceiveBySender(const LoopbackPeer& peer, int nTimeoutMs = 300)
{
    std::map<uint16_t, std::vector<std::string>> got;
    std::string bytes;
    uint16_t nFrom = 0;
    while (peer.ReceiveFrom(bytes, nFrom, nTimeoutMs))
        got[nFrom].push_back(bytes);
    return got;
}

std::string ImeiOf(const std::string& message)
{
    std::smatch match;
    return std::regex_search(message, match, std::regex("\"IMEI\":\"([^\"]*)\"")) ? match[1].str() : std::string();
}


}  // namespace

// The loopback target of each family, as -t takes it and as replies print it.
struct Loopback {
    int nFamily;
    const char* pszTarget;
    const char* pszShown;
};
const Loopback kLoopbacks[] = {{AF_INET, "127.0.0.1", "127.0.0.1"}, {AF_INET6, "::1", "[::1]"}};

TEST(FleetCliTest, EachDeviceSendsFromItsOwnPortWithItsOwnImeiAndCounter)
{
    for (const Loopback& loopback : kLoopbacks) {
        SCOPED_TRACE(loopback.pszTarget);
        LoopbackPeer peer(loopback.nFamily);
        TempDir dir;
        const std::string stats = dir.Path() + "/stats.json";
        const CliRun run = RunCli({"-t", loopback.pszTarget, "-p", Port(peer), "--devices", "20", "--imei-first", "860000000000000", "--spread",
                                   "--counter", "packnum", "--stop-after", "1.6", "--stats-json", stats});
        ASSERT_EQ(run.nExit, 0) << run.err;
        EXPECT_TRUE(Contains(run.err, "fleet: devices 0-19 of 20, IMEI 860000000000000-860000000000019")) << run.err;
        EXPECT_TRUE(Contains(run.err, "devices 20 sent ")) << "a status line a second";
        EXPECT_TRUE(Contains(run.out, "fleet: devices 20, send errors 0")) << run.out;
        const auto got = ReceiveBySender(peer);
        ASSERT_EQ(got.size(), 20u) << "distinct source ports";
        std::set<std::string> imeis;
        for (const auto& sender : got) {
            const std::vector<std::string>& messages = sender.second;
            ASSERT_GE(messages.size(), 2u);
            EXPECT_TRUE(Contains(messages[0], "\"cmd\":\"push_info\""));
            const std::string imei = ImeiOf(messages[0]);
            imeis.insert(imei);
            for (size_t i = 1; i < messages.size(); ++i) {
                EXPECT_EQ(ImeiOf(messages[i]), imei);
                EXPECT_TRUE(Contains(messages[i], "\"packnum\":\"" + std::to_string(12129 + i - 1) + "\"")) << messages[i];
            }
        }
        EXPECT_EQ(imeis.size(), 20u);
        EXPECT_EQ(*imeis.begin(), "860000000000000");
        EXPECT_EQ(*imeis.rbegin(), "860000000000019");
        const std::string json = TempDir::Read(stats);
        EXPECT_TRUE(Contains(json, "{\"devices\":20,\"first_device\":0,\"fleet_devices\":20,")) << json;
        EXPECT_TRUE(Contains(json, "\"series\":[{\"t\":1,\"devices\":20,")) << json;
        EXPECT_EQ(Count(run.err, " late p50 "), Count(json, "{\"t\":")) << "a status line for every second, the last too";
    }
}

TEST(FleetCliTest, RepliesAreCountedAndPrintedWithTheDevicesImei)
{
    for (const Loopback& loopback : kLoopbacks) {
        SCOPED_TRACE(loopback.pszTarget);
        LoopbackPeer peer(loopback.nFamily);
        std::atomic<bool> bDone{false};
        std::thread answer([&] {
            std::string bytes;
            uint16_t nFrom = 0;
            while (!bDone) {
                if (peer.ReceiveFrom(bytes, nFrom, 50) && Contains(bytes, "push_info"))
                    peer.SendTo(nFrom, std::string("ok\\\n", 4));
            }
        });
        const CliRun run = RunCli({"-t", loopback.pszTarget, "-p", Port(peer), "--devices", "2", "--imei-first", "5",
                                   "--replies", "--stop-after", "1"});
        bDone = true;
        answer.join();
        ASSERT_EQ(run.nExit, 0) << run.err;
        const std::string from = std::string("from ") + loopback.pszShown + ":";
        EXPECT_TRUE(Contains(run.out, "reply IMEI 5 " + from + Port(peer) + " 4 bytes: ok\\\\\\x0A")) << run.out;
        EXPECT_TRUE(Contains(run.out, "reply IMEI 6 " + from)) << run.out;
        EXPECT_TRUE(Contains(run.out, ", replies 2")) << run.out;
    }
}

// A server that answers packet 1 twice, packet 2 not at all, packet 3 after
// the timeout, packet 5 before packet 4, and the rest at once: every
// reply's fate in the figures, and the thresholds on them.
TEST(FleetCliTest, RepliesAreMatchedToTheirDatagramsAndEachFateIsCounted)
{
    LoopbackPeer peer;
    std::atomic<bool> bDone{false};
    std::thread server([&] {
        using Clock = std::chrono::steady_clock;
        std::string bytes;
        uint16_t nFrom = 0;
        std::string held;
        std::string late;
        Clock::time_point lateAt = Clock::time_point::max();
        while (!bDone) {
            if (Clock::now() >= lateAt) {
                peer.SendTo(nFrom, late);
                lateAt = Clock::time_point::max();
            }
            std::smatch match;
            if (!peer.ReceiveFrom(bytes, nFrom, 10) ||
                !std::regex_search(bytes, match, std::regex("\"packnum\":(\\d)")))
                continue;
            const std::string reply = "{\"ack\":1,\"packnum\":" + match[1].str() + "}";
            if (match[1] == "1") {
                peer.SendTo(nFrom, reply);
                peer.SendTo(nFrom, reply);
            } else if (match[1] == "3") {
                late = reply;
                lateAt = Clock::now() + std::chrono::milliseconds(420);
            } else if (match[1] == "4") {
                held = reply;
            } else if (match[1] == "5") {
                peer.SendTo(nFrom, reply);
                peer.SendTo(nFrom, held);
            } else if (match[1] != "2") {
                peer.SendTo(nFrom, reply);
            }
        }
    });
    TempDir dir;
    const std::string stats = dir.Path() + "/stats.json";
    std::string text;
    for (int n = 1; n <= 9; ++n)
        text += "{\"IMEI\":\"1\",\"packnum\":" + std::to_string(n) + "}";
    const CliRun run = RunCli({"-p", Port(peer), "-m", "100ms", "--text", text, "--reply-match", "packnum",
                               "--reply-timeout", "300ms", "--stats-json", stats, "-q", "--threshold",
                               "reply_loss<=10%", "--threshold", "duplicate_replies==1", "--threshold", "rtt_max<1s"});
    bDone = true;
    server.join();
    EXPECT_EQ(run.nExit, 3) << run.err;
    EXPECT_TRUE(Contains(run.err, "--reply-match packnum: the device info message has no root member")) << run.err;
    EXPECT_TRUE(Contains(run.out, "threshold reply_loss<=10%: 0.2222 crossed\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "threshold duplicate_replies==1: 1 ok\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "threshold rtt_max<1s: ")) << run.out;
    const std::string json = TempDir::Read(stats);
    EXPECT_TRUE(Contains(json, "\"reply_matching\":{\"member\":\"packnum\",\"timeout_ms\":300.000,\"matched\":7,"
                               "\"lost\":2,\"late\":1,\"duplicate\":1,\"unmatched\":0,\"out_of_order\":1,"
                               "\"evicted\":0,\"untracked\":1,"))
        << json;
}

TEST(FleetCliTest, LimitsAreRefusedBeforeAnythingIsSent)
{
    LoopbackPeer peer;
    const CliRun ports = RunCli({"-p", Port(peer), "--devices", "3", "--bind-ports", "40000-40001"});
    EXPECT_EQ(ports.nExit, 1);
    EXPECT_TRUE(Contains(ports.err, "at most 2 devices")) << ports.err;
    const CliRun stats = RunCli({"-p", Port(peer), "--devices", "2", "--stats-json", "/nonexistent/dir/s.json"});
    EXPECT_EQ(stats.nExit, 1);
    EXPECT_TRUE(Contains(stats.err, "cannot write /nonexistent/dir/s.json")) << stats.err;
    const CliRun report = RunCli({"-p", Port(peer), "--devices", "2", "--report", "/nonexistent/dir/r.html"});
    EXPECT_EQ(report.nExit, 1);
    EXPECT_TRUE(Contains(report.err, "cannot write /nonexistent/dir/r.html: No such file or directory")) << report.err;
    const CliRun family = RunCli({"-t", "::1", "-p", Port(peer), "--devices", "2", "--bind", "127.0.0.1"});
    EXPECT_EQ(family.nExit, 64);
    EXPECT_TRUE(Contains(family.err, "--bind: '127.0.0.1' is an IPv4 address, the target '::1' is IPv6"))
        << family.err;
    for (const bool bDry : {false, true}) {
        std::vector<std::string> args = {"-t", "255.255.255.255", "--devices", "2"};
        if (bDry)
            args.push_back("--dry-run");
        const CliRun broadcast = RunCli(args);
        EXPECT_EQ(broadcast.nExit, 64) << bDry;
        EXPECT_TRUE(Contains(broadcast.err, "add --broadcast")) << broadcast.err;
    }
    std::string got;
    EXPECT_FALSE(peer.Receive(got, 100)) << "nothing is sent before the files are known to be writable";
    const CliRun ephemeral = RunCli({"-p", Port(peer), "--devices", "1000000", "--dry-run"});
    EXPECT_EQ(ephemeral.nExit, 1) << "a dry run checks the limits too";
    EXPECT_TRUE(Contains(ephemeral.err, "ephemeral ports")) << ephemeral.err;

    // One device more than the hard descriptor limit allows, on enough
    // loopback addresses for the ports.
    const long nLimit = ProcessStats::DescriptorLimit();
    if (nLimit > 0 && nLimit < 500000) {
        std::string binds = "127.0.0.1";
        for (long n = 20000; n <= nLimit; n += 20000)
            binds += ",127.0.0." + std::to_string(2 + n / 20000);
        const CliRun fds = RunCli({"-p", Port(peer), "--devices", std::to_string(nLimit + 1), "--bind", binds});
        EXPECT_EQ(fds.nExit, 1);
        EXPECT_TRUE(Contains(fds.err, "file-descriptor limit")) << fds.err;
    }
    EXPECT_TRUE(ReceiveBySender(peer, 100).empty());
}

TEST(FleetCliTest, ShardsAddUpToTheFleetAndBadFleetOptionsAreUsageErrors)
{
    uint64_t nNext = 0;
    for (int k = 0; k < 6; ++k) {
        const CliRun run = RunCli({"--devices", "6001", "--shard", std::to_string(k) + "/6", "--dry-run"});
        ASSERT_EQ(run.nExit, 0) << run.err;
        std::smatch match;
        ASSERT_TRUE(std::regex_search(run.err, match, std::regex("fleet: devices (\\d+)-(\\d+) of 6001"))) << run.err;
        EXPECT_EQ(std::stoull(match[1].str()), nNext);
        nNext = std::stoull(match[2].str()) + 1;
    }
    EXPECT_EQ(nNext, 6001u);

    // Each refusal names the option and says what would do.
    struct Case {
        std::vector<std::string> args;
        int nExit;
        std::string message;
    };
    const Case cases[] = {
        {{"--devices", "0"}, 64, "--devices: '0' is not a number from 1 to 1000000, by-imei or by-source"},
        {{"--devices", "1000001"}, 64, "--devices: '1000001' is not a number"},
        {{"--devices", "by-imei"}, 64, "--devices: by-imei needs --import FILE and -m replay"},
        {{"--shard", "6/6"}, 64, "--shard: '6/6' is not K/M with 0 <= K < M"},
        {{"--stats-json", "f", "--report", "f"}, 64, "--report: 'f' is the --stats-json file too"},
        {{"--shard", "1/0"}, 64, "--shard: '1/0' is not K/M"},
        {{"--imei-first", "99", "--devices", "2"}, 64, "--imei-first: the last device's IMEI 100 has more than 2"},
        {{"--imei-first", "12a"}, 64, "--imei-first: '12a' is not 1 to 18 decimal digits"},
        {{"--imei-first", "1234567890123456789"}, 64, "is not 1 to 18 decimal digits"},
        {{"--bind", "127.0.0"}, 64, "--bind: '127.0.0' is not an IPv4 or IPv6 address"},
        {{"--bind", "127.0.0.1,::1"}, 64, "--bind: '::1' is IPv6, the first is IPv4"},
        {{"--bind", "::1", "-t", "::1", "--devices", "2", "--bind-ports", "40000-40001"}, 0, "fleet: devices 0-1"},
        {{"--bind", "127.0.0.256"}, 64, "--bind: '127.0.0.256' is not"},
        {{"--bind-ports", "9-8"}, 64, "--bind-ports: '9-8' is not LO-HI with 1 <= LO <= HI <= 65535"},
        {{"--bind-ports", "0-8"}, 64, "--bind-ports: '0-8' is not"},
        {{"--devices", "00000000000000000002"}, 64, "--devices: '00000000000000000002' is not a number"},
        {{"--bind", "0127.0.0.1"}, 64, "--bind: '0127.0.0.1' is not an IPv4 or IPv6 address"},
        {{"--counter", "IMEI"}, 64, "--counter: needs a member other than IMEI and time"},
        {{"--counter", "time"}, 64, "--counter: needs a member other than IMEI and time"},
        {{"--counter", "seq"}, 0,
         "warning: --counter seq: packet 1 of 1 has no root member \"seq\" holding an integer or a string of 1 to 19 "
         "digits; it goes without a counter"},
        {{"--devices", "2", "--bind-ports", "40000-40001"}, 0, "fleet: devices 0-1 of 2"},
        {{"--bind-ports", "40000-40000"}, 0, "fleet: devices 0-0 of 1"},
        // The width of --imei-first is kept, leading zeros and all.
        {{"--imei-first", "0000012", "--devices", "2"}, 0, "IMEI 0000012-0000013, mode 0, 1 thread"},
        {{"--imei-first", "999999999999999998", "--devices", "2"}, 0,
         "IMEI 999999999999999998-999999999999999999"},
        {{"--devices", "7", "--shard", "1/3", "--threads", "2"}, 0,
         "fleet: devices 2-3 of 7, IMEI 1234567892-1234567893, mode 0, 2 threads"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--dry-run");
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.nExit, c.nExit) << c.args[0] << " " << c.args[1] << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.message)) << c.message << " in: " << run.err;
    }
}

TEST(FleetCliTest, ByImeiReplaysARecordedFleetFromOneSocketPerImei)
{
    const time_t now = time(nullptr);
    TempDir dir;
    std::string content;
    for (const char* imei : {"A1", "B2", "C3"})
        content += std::string("{\"IMEI\":\"") + imei + "\",\"time\":\"2001-02-03 " + LocalTime(now + 2, "%H:%M:%S") +
                   "\"}\n";
    const std::string file = dir.Write("fleet.txt", content);
    LoopbackPeer peer;
    const CliRun run = RunCli({"-p", Port(peer), "-m", "replay", "--devices", "by-imei", "--import", file, "-q",
                               "--stop-after", "3.2"});
    ASSERT_EQ(run.nExit, 0) << run.err;
    const auto got = ReceiveBySender(peer);
    ASSERT_EQ(got.size(), 3u);
    std::set<std::string> imeis;
    for (const auto& sender : got) {
        ASSERT_EQ(sender.second.size(), 2u);
        const std::string imei = ImeiOf(sender.second[0]);
        imeis.insert(imei);
        EXPECT_EQ(sender.second[1],
                  "{\"IMEI\":\"" + imei + "\",\"time\":\"" + LocalTime(now + 2, "%Y-%m-%d %H:%M:%S") + "\"}");
    }
    EXPECT_EQ(imeis, (std::set<std::string>{"A1", "B2", "C3"}));
}

TEST(FleetCliTest, TerminateStopsTheWholeFleetAtOnce)
{
    LoopbackPeer peer;
    const CliRun run =
        RunCli({"-p", Port(peer), "--devices", "200", "-m", "1min", "-q"}, 800, CliProcess::Stop::kTerminate);
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_LT(run.dSeconds, 2.0);
    EXPECT_TRUE(Contains(run.err, "发送结束"));
    EXPECT_EQ(ReceiveBySender(peer).size(), 200u) << "every device's info message";
}

TEST(FleetCliTest, ThresholdsJudgeTheRunAndARunThatSentNothingExitsThree)
{
    LoopbackPeer peer;
    TempDir dir;
    const std::string stats = dir.Path() + "/stats.json";
    const CliRun run = RunCli({"-p", Port(peer), "--devices", "3", "-m", "100ms", "-q", "--threshold", "sent==6",
                               "--threshold", "errors==0", "--threshold", "sent>=7", "--stats-json", stats});
    EXPECT_EQ(run.nExit, 3) << run.err;
    EXPECT_EQ(run.out, "threshold sent==6: 6 ok\nthreshold errors==0: 0 ok\nthreshold sent>=7: 6 crossed\n")
        << "printed also with -q";
    EXPECT_EQ(ReceiveBySender(peer, 100).size(), 3u);
    EXPECT_TRUE(Contains(TempDir::Read(stats),
                         "\"thresholds\":[{\"expression\":\"sent==6\",\"value\":6,\"ok\":true},{\"expression\":"
                         "\"errors==0\",\"value\":0,\"ok\":true},{\"expression\":\"sent>=7\",\"value\":6,"
                         "\"ok\":false}]}"));

    // A bad expression, and one that this run could give no evidence for,
    // are usage errors before anything is loaded or sent.
    const CliRun bad = RunCli({"-p", Port(peer), "--threshold", "late_p99<=5"});
    EXPECT_EQ(bad.nExit, 64);
    EXPECT_TRUE(Contains(bad.err, "'late_p99<=5' needs a duration")) << bad.err;
    for (const char* pszNoEvidence : {"replies>=99%", "rtt_p99<=50ms", "faults_loss==0", "faults==0"}) {
        const CliRun none = RunCli({"-p", Port(peer), "--devices", "2", "--threshold", pszNoEvidence});
        EXPECT_EQ(none.nExit, 64) << pszNoEvidence;
        EXPECT_TRUE(Contains(none.err, std::string("'") + pszNoEvidence + "' ")) << none.err;
        EXPECT_TRUE(Contains(none.err, ": add ")) << none.err;
        EXPECT_FALSE(Contains(none.err, "开始发送")) << "nothing is said to start: " << none.err;
    }
    EXPECT_EQ(RunCli({"-p", Port(peer), "--devices", "2", "--loss", "1%", "--threshold", "faults_loss<=5",
                      "--stop-after", "0.2", "-q"})
                  .nExit,
              0);
    EXPECT_GE(ReceiveBySender(peer, 100).size(), 1u) << "with the fault injected, the threshold has its evidence";

    // Port 0 refuses every send on loopback; a device not yet online tries none.
    const CliRun failing = RunCli({"-p", "0", "--devices", "2", "-m", "100ms", "-q"});
    EXPECT_EQ(failing.nExit, 3) << failing.err;
    const CliRun waiting = RunCli({"-p", "0", "--devices", "2", "--shard", "1/2", "--ramp", "60", "--stop-after", "0.3"});
    EXPECT_EQ(waiting.nExit, 0) << waiting.err;
    EXPECT_TRUE(Contains(waiting.out, "sent 0 datagrams in ")) << waiting.out;
    EXPECT_TRUE(Contains(waiting.out, "; 0 could not be sent")) << waiting.out;
    EXPECT_EQ(ReceiveBySender(peer, 100).size(), 0u) << "the bad expression's run sent nothing";
}

namespace {

// Each device's datagrams by its IMEI (the one its device info message
// carries), in the order they came.
std::map<std::string, std::vector<std::string>> ByDevice(const LoopbackPeer& peer)
{
    std::map<std::string, std::vector<std::string>> devices;
    for (const auto& sender : ReceiveBySender(peer)) {
        const std::string imei = ImeiOf(sender.second.front());
        devices[imei] = sender.second;
    }
    return devices;
}

}  // namespace

// Two runs with one seed, and one process against two shards: every device
// sends the same datagrams, the faults counted alike.
TEST(FleetCliTest, ASeedReplaysEachDevicesDatagramsFromOneProcessOrTwoShards)
{
    TempDir dir;
    std::string strMessages;
    for (int i = 0; i < 12; ++i)
        strMessages += "{\"IMEI\":\"0\",\"n\":" + std::to_string(i) + ",\"t\":20.5,\"s\":\"ok\",\"h\":\"35.7\"}\n";
    const std::string strFile = dir.Write("m.txt", strMessages);
    const std::vector<std::string> traffic = {
        "--text-file", strFile, "-m", "100ms", "--devices", "4", "--seed", "77", "--vary", "t=normal(20,3)",
        "--vary", "s=pick(ok,low,high)", "--vary", "h=walk(30,40,1),decimals=2", "--loss", "20%",
        "--duplicate", "10%", "--corrupt", "10%,truncate", "--outage", "400ms,300ms,return=200ms", "-q"};
    std::vector<std::map<std::string, std::vector<std::string>>> runs;
    std::vector<std::string> stats;
    for (const char* pszShards : {"", "", "2"}) {
        LoopbackPeer peer;
        const int nShards = *pszShards ? 2 : 1;
        for (int k = 0; k < nShards; ++k) {
            std::vector<std::string> args = traffic;
            const std::string strStats = dir.Path() + "/s" + std::to_string(runs.size()) + "-" + std::to_string(k);
            args.insert(args.end(), {"-p", Port(peer), "--stats-json", strStats});
            if (nShards > 1)
                args.insert(args.end(), {"--shard", std::to_string(k) + "/2"});
            const CliRun run = RunCli(args);
            ASSERT_EQ(run.nExit, 0) << run.err;
            EXPECT_TRUE(Contains(run.err, "traffic: seed 77")) << run.err;
            stats.push_back(TempDir::Read(strStats));
        }
        runs.push_back(ByDevice(peer));
    }
    ASSERT_EQ(runs[0].size(), 4u);
    EXPECT_EQ(runs[1], runs[0]);
    EXPECT_EQ(runs[2], runs[0]);
    size_t nDatagrams = 0;
    std::set<std::string> shown;
    for (const auto& device : runs[0]) {
        nDatagrams += device.second.size();
        for (const std::string& bytes : device.second)
            shown.insert(bytes.substr(0, bytes.find(",\"h\"")));
    }
    EXPECT_GT(shown.size(), 20u) << "generated values differ from packet to packet";
    // The faults each run counted: the same in both runs, and the shards'
    // added up.
    const std::regex faults("\"seed\":77,\"faults\":\\{\"loss\":(\\d+),\"duplicate\":(\\d+),");
    std::vector<uint64_t> lost;
    std::vector<uint64_t> copies;
    for (const std::string& text : stats) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(text, match, faults)) << text;
        lost.push_back(std::stoull(match[1].str()));
        copies.push_back(std::stoull(match[2].str()));
    }
    EXPECT_GT(lost[0], 0u);
    EXPECT_GT(copies[0], 0u);
    EXPECT_EQ(lost[1], lost[0]);
    EXPECT_EQ(lost[2] + lost[3], lost[0]);
    EXPECT_EQ(copies[2] + copies[3], copies[0]);
    // Each device: its device info message, again after the outage, and
    // its packets less the lost, the copies added, some silenced.
    EXPECT_LT(nDatagrams, 4 * (2 + 12) - lost[0] + copies[0]);
}

TEST(FleetCliTest, TrafficOptionsAreCheckedAndAMemberTheyCannotReachIsToldOnce)
{
    LoopbackPeer peer;
    const CliRun run = RunCli({"-p", Port(peer), "--vary", "humidity=uniform(30,40)", "--vary", "flag=pick(a,b)",
                               "--vary", "temperature=cycle(1,2),decimals=3", "--loss", "50%", "--stop-after", "1.5"});
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(Count(run.err, "warning: --vary"), 1u) << run.err;
    EXPECT_TRUE(Contains(run.err, "warning: --vary flag=pick(a,b): packet 1 of 1 has no member \"flag\"; it goes "
                                  "without it"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, " faults")) << "the status line counts the faults";
    EXPECT_TRUE(Contains(run.out, "traffic: seed ")) << run.out;
    const std::vector<std::string> got = ReceiveBySender(peer).begin()->second;
    ASSERT_GE(got.size(), 1u);
    EXPECT_EQ(ImeiOf(got.front()), "1234567890");
    for (size_t i = 1; i < got.size(); ++i) {
        EXPECT_TRUE(std::regex_search(got[i], std::regex("\"humidity\":\"[34]\\d\\.\\d\",\"temperature\":\"[12]\\.000\"")))
            << got[i];
    }

    const CliRun counter = RunCli({"--counter", "packnum", "--vary", "packnum=uniform(1,2)"});
    EXPECT_EQ(counter.nExit, 64);
    EXPECT_TRUE(Contains(counter.err, "--vary: 'packnum=uniform(1,2)' gives generated values to the member --counter "
                                      "counts"))
        << counter.err;
    EXPECT_FALSE(Contains(counter.err, "开始发送")) << "nothing is said to start before a usage error";
    const CliRun match = RunCli({"--reply-match", "v", "--vary", "v=walk(0,9,1)", "--dry-run"});
    EXPECT_EQ(match.nExit, 64);
    EXPECT_TRUE(Contains(match.err, "--vary: 'v=walk(0,9,1)' gives generated values to the member --reply-match "
                                    "matches replies by"))
        << match.err;
}
