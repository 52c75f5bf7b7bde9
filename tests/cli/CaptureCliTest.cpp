#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "capture/CFrameDecoder.h"
#include "capture/CaptureWriter.h"
#include "cli/CliProcess.h"
#include "net/LoopbackPeer.h"

namespace {

using W = CaptureWriter;
using Clock = std::chrono::steady_clock;

constexpr int64_t kMs = 1000000;
constexpr int64_t kT0 = 1796724000LL * 1000000000LL;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

struct Arrival {
    std::string bytes;
    double dMs;  // after the run began
};

// Runs tovrik-cli on a capture to the peer, quietly, while a thread takes
// what reaches the peer, by sender port.
CliRun RunReceiving(const LoopbackPeer& peer, const std::string& strCapture, std::vector<std::string> args,
                    std::map<uint16_t, std::vector<Arrival>>& got)
{
    args.insert(args.begin(), {"--import", strCapture, "-p", std::to_string(peer.Port()), "-q"});
    std::atomic<bool> bDone{false};
    const Clock::time_point start = Clock::now();
    std::thread receiver([&] {
        std::string bytes;
        uint16_t nFrom = 0;
        while (!bDone || peer.ReceiveFrom(bytes, nFrom, 0)) {
            if (peer.ReceiveFrom(bytes, nFrom, 20))
                got[nFrom].push_back(
                    {bytes, std::chrono::duration<double, std::milli>(Clock::now() - start).count()});
        }
    });
    const CliRun run = CliProcess::Run(args, -1, CliProcess::Stop::kNone);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bDone = true;
    receiver.join();
    return run;
}

// Three sources; the third shares the first one's IMEI. Source .7 sends at
// 0, 400 and 800 ms of the capture.
std::string WriteThreeSources(const TempDir& dir, int nLinkType)
{
    const std::string strPath = dir.Path() + "/sources.cap";
    W writer(strPath, nLinkType);
    const auto frame = [nLinkType](const std::string& ip) {
        return nLinkType == CFrameDecoder::kLinkSll2 ? W::Sll2(ip) : W::Ethernet(ip, 1);
    };
    writer.Write(kT0, frame(W::Ipv4Udp(7, 4000, "{\"IMEI\":\"A\",\"n\":1,\"time\":\"2020-07-18 15:22:59\"}")));
    writer.Write(kT0 + 200 * kMs, frame(W::Ipv6Udp(8, 4001, "{\"IMEI\":\"B\",\"n\":2}")));
    writer.Write(kT0 + 400 * kMs, frame(W::Ipv4Udp(7, 4000, "{\"IMEI\":\"A\",\"n\":3}{\"IMEI\":\"A\",\"n\":4}")));
    writer.Write(kT0 + 600 * kMs, frame(W::Ipv4Udp(9, 4002, "{\"IMEI\":\"A\",\"n\":5}")));
    writer.Write(kT0 + 800 * kMs, frame(W::Ipv4Udp(7, 4000, "{\"IMEI\":\"A\",\"n\":6}")));
    return strPath;
}

}  // namespace

TEST(CaptureCliTest, BySourceEachSourceIsADeviceReplayingItsOwnDatagramsAtTheScaledCaptureTimes)
{
    LoopbackPeer peer;
    TempDir dir;
    std::map<uint16_t, std::vector<Arrival>> got;
    const CliRun run = RunReceiving(peer, WriteThreeSources(dir, CFrameDecoder::kLinkSll2),
                                       {"--devices", "by-source", "--capture-time", "--speed", "2"}, got);
    ASSERT_EQ(run.nExit, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "5 UDP datagrams read")) << run.err;
    EXPECT_TRUE(Contains(run.err, "fleet: devices 0-2 of 3, IMEI by source, capture time at speed 2")) << run.err;
    ASSERT_EQ(got.size(), 3u) << "a socket per source";
    std::map<std::string, std::vector<Arrival>> byFirst;
    for (const auto& sender : got) {
        ASSERT_GE(sender.second.size(), 2u);
        EXPECT_TRUE(Contains(sender.second[0].bytes, "push_info"));
        byFirst[sender.second[1].bytes.substr(0, 18)] = sender.second;
    }
    const std::vector<Arrival>& a = byFirst["{\"IMEI\":\"A\",\"n\":1,"];
    ASSERT_EQ(a.size(), 5u) << "the device info, then each message of a datagram as a datagram of its own";
    EXPECT_TRUE(Contains(a[0].bytes, "\"IMEI\":\"A\""));
    EXPECT_FALSE(Contains(a[1].bytes, "2020-07-18")) << "\"time\" is rewritten to now";
    EXPECT_EQ(a[2].bytes.substr(0, 18), "{\"IMEI\":\"A\",\"n\":3,");
    EXPECT_EQ(a[3].bytes.substr(0, 18), "{\"IMEI\":\"A\",\"n\":4,");
    // 800 ms of capture at speed 2, loosely.
    EXPECT_GT(a[4].dMs - a[1].dMs, 330);
    EXPECT_LT(a[4].dMs - a[1].dMs, 700);
    EXPECT_GT(a[1].dMs - a[0].dMs, 60) << "the first datagram goes 100 ms after the start";
    EXPECT_EQ(byFirst["{\"IMEI\":\"B\",\"n\":2,"].size(), 2u);
    EXPECT_EQ(byFirst["{\"IMEI\":\"A\",\"n\":5,"].size(), 2u) << "a source sharing an IMEI is a device of its own";
}

TEST(CaptureCliTest, ByImeiOrAsOneDeviceNoModifyTimeSendsTheBytesAsCaptured)
{
    LoopbackPeer peer;
    TempDir dir;
    std::map<uint16_t, std::vector<Arrival>> got;
    const CliRun run = RunReceiving(peer, WriteThreeSources(dir, CFrameDecoder::kLinkEthernet),
                                       {"--devices", "by-imei", "--capture-time", "--speed", "10", "--no-modify-time"},
                                       got);
    ASSERT_EQ(run.nExit, 0) << run.err;
    ASSERT_EQ(got.size(), 2u);
    std::set<std::string> sent;
    for (const auto& sender : got) {
        for (size_t i = 1; i < sender.second.size(); ++i)
            sent.insert(sender.second[i].bytes);
    }
    EXPECT_EQ(sent, (std::set<std::string>{"{\"IMEI\":\"A\",\"n\":1,\"time\":\"2020-07-18 15:22:59\"}",
                                           "{\"IMEI\":\"B\",\"n\":2}", "{\"IMEI\":\"A\",\"n\":3}",
                                           "{\"IMEI\":\"A\",\"n\":4}", "{\"IMEI\":\"A\",\"n\":5}",
                                           "{\"IMEI\":\"A\",\"n\":6}"}));

    // Without --devices: one device, the messages as captured, in order.
    std::map<uint16_t, std::vector<Arrival>> one;
    const CliRun single = RunReceiving(peer, WriteThreeSources(dir, CFrameDecoder::kLinkEthernet),
                                          {"--capture-time", "--speed", "10", "--no-modify-time"}, one);
    ASSERT_EQ(single.nExit, 0) << single.err;
    ASSERT_EQ(one.size(), 1u);
    const std::vector<Arrival>& d = one.begin()->second;
    ASSERT_EQ(d.size(), 7u);
    EXPECT_EQ(d[2].bytes, "{\"IMEI\":\"B\",\"n\":2}");
    EXPECT_EQ(d[6].bytes, "{\"IMEI\":\"A\",\"n\":6}");
}

TEST(CaptureCliTest, WrongCaptureOptionsAreUsageErrorsAndAnUnreadableCaptureExitsTwo)
{
    TempDir dir;
    const std::string strCapture = WriteThreeSources(dir, CFrameDecoder::kLinkEthernet);
    const std::string strText = dir.Write("m.txt", "{\"IMEI\":\"1\"}\n");
    const std::string strBroken = dir.Write("broken.txt", std::string("\xa1\xb2\xc3\xd4\x00", 5));
    const struct {
        std::vector<std::string> args;
        int nExit;
        const char* pszSays;
    } cases[] = {
        {{"--import", strCapture, "--speed", "2"}, 64, "--speed: goes with --capture-time only"},
        {{"--import", strCapture, "--capture-time", "--speed", "0.05"}, 64, "--speed"},
        {{"--import", strCapture, "--capture-time", "-m", "replay"}, 64, "does not go with -m"},
        {{"--import", strText, "--capture-time"}, 64, "needs --import of a packet capture"},
        {{"--import", strText, "--devices", "by-source", "-m", "replay"}, 64, "needs --import of a packet capture"},
        {{"--import", strCapture, "--capture-filter", "udp port banana"}, 64, "'udp port banana': "},
        {{"--import", strBroken, "--dry-run"}, 2, "broken.txt: "},
        {{"--import", strCapture, "--capture-filter", "tcp", "--dry-run"}, 2, "5 filtered out"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-p", "9", "--stop-after", "1"});
        const CliRun run = CliProcess::Run(args, -1, CliProcess::Stop::kNone);
        EXPECT_EQ(run.nExit, c.nExit) << c.args.back() << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.pszSays)) << run.err;
    }
}

TEST(CaptureCliTest, WhatTcpdumpCapturesOfARunReplaysAsTheSameBytes)
{
    if (std::system("command -v tcpdump >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tcpdump is not installed";
    LoopbackPeer first;
    TempDir dir;
    const std::string strCapture = dir.Path() + "/run.pcap";
    const std::string strLog = dir.Path() + "/tcpdump.log";
    const std::string strPid = dir.Path() + "/tcpdump.pid";
    std::system(("tcpdump -i lo -U -w '" + strCapture + "' udp dst port " + std::to_string(first.Port()) + " 2>'" +
                 strLog + "' & echo $! >'" + strPid + "'")
                    .c_str());
    for (int i = 0; i < 100 && !Contains(TempDir::Read(strLog), "listening on"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int nPid = std::atoi(TempDir::Read(strPid).c_str());
    if (!Contains(TempDir::Read(strLog), "listening on")) {
        if (nPid > 0)
            kill(nPid, SIGTERM);
        GTEST_SKIP() << "tcpdump cannot capture on lo here: " << TempDir::Read(strLog);
    }
    const std::string strMessages = "{\"IMEI\":\"77\",\"n\":1}{\"IMEI\":\"78\",\"n\":2}";
    const CliRun sent = CliProcess::Run({"--text", strMessages, "-p", std::to_string(first.Port()), "-m", "1s",
                                         "--no-modify-time", "--no-loop", "--stop-after", "2.5", "-q"},
                                        -1, CliProcess::Stop::kNone);
    ASSERT_EQ(sent.nExit, 0) << sent.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(nPid, SIGINT);
    for (int i = 0; i < 100 && kill(nPid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    LoopbackPeer second;
    std::map<uint16_t, std::vector<Arrival>> got;
    const CliRun replayed =
        RunReceiving(second, strCapture, {"--devices", "by-imei", "--capture-time", "--no-modify-time"}, got);
    ASSERT_EQ(replayed.nExit, 0) << replayed.err;
    EXPECT_TRUE(Contains(replayed.err, "from 1 source")) << replayed.err;
    std::set<std::string> bytes;
    for (const auto& sender : got) {
        for (const Arrival& arrival : sender.second)
            bytes.insert(arrival.bytes);
    }
    EXPECT_EQ(got.size(), 3u) << "the run's device info message has an IMEI of its own too";
    EXPECT_TRUE(bytes.count("{\"IMEI\":\"77\",\"n\":1}") == 1 && bytes.count("{\"IMEI\":\"78\",\"n\":2}") == 1);
}
