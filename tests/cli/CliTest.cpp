#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "cli/CliProcess.h"
#include "metrics/CMetricsServer.h"
#include "net/LoopbackPeer.h"
#include "text/TovrikTexts.h"
#include "time/CLocalTime.h"

namespace {

CliRun RunCli(const std::vector<std::string>& args, int nStopAfterMs = -1,
              CliProcess::Stop stop = CliProcess::Stop::kNone)
{
    return CliProcess::Run(args, nStopAfterMs, stop);
}

std::vector<std::string> ReceiveAll(const LoopbackPeer& peer, int nTimeoutMs = 200)
{
    std::vector<std::string> got;
    std::string bytes;
    while (peer.Receive(bytes, nTimeoutMs))
        got.push_back(bytes);
    return got;
}

std::string Port(const LoopbackPeer& peer)
{
    return std::to_string(peer.Port());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string LocalTime(time_t t, const char* pszPattern)
{
    struct tm local {};
    CLocalTime::Split(t, local);
    char text[64];
    strftime(text, sizeof text, pszPattern, &local);
    return text;
}

// The minute mode sends at the first tick of a whole minute, also when the
// run starts in that second: a run of a few seconds that must not send its
// packet starts clear of one.
void ClearOfAWholeMinute()
{
    while (time(nullptr) % 60 >= 57 || time(nullptr) % 60 == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace

TEST(CliTest, DefaultsSendTheDeviceInfoThenTheStampedStatusMessageEverySecond)
{
    LoopbackPeer peer;
    const CliRun run = RunCli({"-p", Port(peer), "--stop-after", "1.5"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    const std::vector<std::string> got = ReceiveAll(peer);
    ASSERT_GE(got.size(), 2u);
    ASSERT_LE(got.size(), 4u);
    EXPECT_EQ(got[0], TovrikTexts::kDeviceInfo);
    for (size_t i = 1; i < got.size(); ++i) {
        EXPECT_EQ(got[i].size(), 904u);
        EXPECT_EQ(got[i].find("{\"cmd\":\"push_msg\",\"IMEI\":\"1234567890\",\"packnum\""), 0u);
        EXPECT_EQ(got[i].rfind(",\"time\":\""), 904u - 30u);
    }
    EXPECT_TRUE(Contains(run.err, "解析完毕,一共解析 1 道下载命令.开始发送.\n"));
    EXPECT_TRUE(Contains(run.err, "发送结束\n"));
    // One line per datagram and the summary.
    EXPECT_TRUE(Contains(run.out, "127.0.0.1:" + Port(peer) + " 121 bytes\n"));
    EXPECT_TRUE(Contains(run.out, "sent " + std::to_string(got.size()) + " datagrams in "));
}

TEST(CliTest, WithoutRewriteAndLoopThePacketsGoAsCutAndTheRunEndsByItself)
{
    LoopbackPeer peer;
    const CliRun run = RunCli({"-p", Port(peer), "--no-loop", "--no-modify-time", "-q", "--text",
                               "junk{\"a\":1}\r\n{ \"b\" : 2 }\r\n"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(ReceiveAll(peer), (std::vector<std::string>{TovrikTexts::kDeviceInfo, "{\"a\":1}", "{ \"b\" : 2 }"}));
    EXPECT_LT(run.dSeconds, 5.0);
    EXPECT_EQ(run.out, "") << "quiet";
    EXPECT_TRUE(Contains(run.err, "一共解析 2 道"));
}

TEST(CliTest, TypedTextGoesOutAsUtf8AndFilesWithChineseNamesByteForByte)
{
    TempDir dir;
    const std::string file = dir.Write("中文 消息.txt", "{\"a\":\"中\",\r\n\"b\":1}\x1a{\"c\":2}");
    LoopbackPeer peer;
    const CliRun fromFile = RunCli({"-p", Port(peer), "--no-loop", "--no-modify-time", "--text-file", file});
    EXPECT_EQ(fromFile.nExit, 0) << fromFile.err;
    EXPECT_TRUE(Contains(fromFile.err, "解析完毕,一共解析 2 道下载命令.开始发送.\n")) << "UTF-8 into a file";
    EXPECT_EQ(ReceiveAll(peer),
              (std::vector<std::string>{TovrikTexts::kDeviceInfo, "{\"a\":\"中\",\r\n\"b\":1}", "{\"c\":2}"}));

    const CliRun typed = RunCli({"-p", Port(peer), "--no-loop", "-m", "10ms", "-q", "--text", "{\"设备\":\"温度\"}"});
    EXPECT_EQ(typed.nExit, 0) << typed.err;
    EXPECT_EQ(ReceiveAll(peer),
              (std::vector<std::string>{TovrikTexts::kDeviceInfo, "{\"设备\":\"温度\",\"make_up\":1}"}));
}

TEST(CliTest, FastModesMarkEveryPacketOnce)
{
    LoopbackPeer peer;
    const CliRun run =
        RunCli({"-p", Port(peer), "-m", "10ms", "-q", "--text", "{\"a\":1}{\"b\":2}{\"c\":3,\"time\":\"t\"}"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(ReceiveAll(peer), (std::vector<std::string>{TovrikTexts::kDeviceInfo, "{\"a\":1,\"make_up\":1}",
                                                          "{\"b\":2,\"make_up\":1}",
                                                          "{\"c\":3,\"time\":\"t\",\"make_up\":1}"}));
}

TEST(CliTest, HexTextIsDecodedIntoPackets)
{
    LoopbackPeer peer;
    const CliRun run =
        RunCli({"-p", Port(peer), "-m", "4", "-q", "--hex", "--text", "7b 22 61 22\n3a 31 7d 7b 7d 7b 7d"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(ReceiveAll(peer), (std::vector<std::string>{TovrikTexts::kDeviceInfo, "{\"a\":1,\"make_up\":1}"}));
}

TEST(CliTest, FailedLoadsSayWhyAndExitWithTwo)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    TempDir dir;
    const std::string longHex = dir.Write("long.hex", std::string(50001, '7'));
    const Case cases[] = {
        {{"--text", ""}, "数据不能为空\n"},
        {{"--hex", "--text", "7b,7d"}, "请输入HEX数据\n"},
        // From a file: the text is longer than a Windows command line may be.
        {{"--hex", "--text-file", longHex}, "长度请勿超过5W\n"},
        {{"--text", "no braces here"}, "未解析到数据包\n"},
        {{"--text-file", "/nonexistent/in.txt"}, "/nonexistent/in.txt: No such file or directory\n"},
        {{"--import", "/nonexistent/in.txt"}, "/nonexistent/in.txt: No such file or directory\n"},
    };
    LoopbackPeer peer;
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-p", Port(peer)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.nExit, 2) << c.message;
        EXPECT_EQ(run.err, c.message);
    }
    EXPECT_TRUE(ReceiveAll(peer, 50).empty()) << "nothing is sent after a failed load";
}

TEST(CliTest, PortsOutsideTheRangeAndUnknownModesAreUsageErrors)
{
    for (const char* port : {"65536", "-1", "x"})
        EXPECT_EQ(RunCli({"-p", port, "--dry-run"}).nExit, 64) << port;
    EXPECT_EQ(RunCli({"-m", "7", "--dry-run"}).nExit, 64);
    EXPECT_EQ(RunCli({"-m", "2s", "--dry-run"}).nExit, 64);
    EXPECT_EQ(RunCli({"--text", "{}", "--import", "f", "--dry-run"}).nExit, 64);
    for (const char* port : {"0", "65535", "051609"})
        EXPECT_EQ(RunCli({"-p", port, "--dry-run"}).nExit, 0) << port;
    // Refusals name the option and the value, and say what would do.
    const std::vector<std::vector<std::string>> refused = {
        {"-p", "abc", "--port", "'abc' is not a port"},     {"-p", "0x10", "--port", "'0x10'"},
        {"-p", "", "--port", "'' is not a port"},           {"-p", "010x", "--port", "decimal digits"},
        {"--stop-after", "nan", "--stop-after", "'nan'"},    {"--stop-after", "inf", "--stop-after", "'inf'"},
        {"--stop-after", "0", "--stop-after", "above 0"},    {"--stop-after", "-1", "--stop-after", "'-1'"},
        {"--stop-after", "1e10", "--stop-after", "at most 100 years"},
        {"-t", "::zz", "--target", "'::zz' is not an IPv4 or IPv6 address"},
        {"-t", "[::1", "--target", "'[::1'"},                {"-t", "[127.0.0.1]", "--target", "'[127.0.0.1]'"},
        {"-t", "", "--target", "''"},                        {"-t", "127.0.0.1 ", "--target", "not an IPv4"},
    };
    for (const std::vector<std::string>& c : refused) {
        const CliRun run = RunCli({c[0], c[1], "--dry-run"});
        EXPECT_EQ(run.nExit, 64) << c[0] << " " << c[1];
        EXPECT_TRUE(Contains(run.err, c[2]) && Contains(run.err, c[3])) << run.err;
        EXPECT_LT(run.err.size(), 300u) << run.err;
    }
    EXPECT_EQ(RunCli({"--stop-after", "3000000000", "--dry-run"}).nExit, 0);
    EXPECT_EQ(RunCli({"-m", "replay", "--dry-run"}).nExit, 0);
    const CliRun help = RunCli({"--help"});
    EXPECT_EQ(help.nExit, 0);
    // A build without metrics and captures says so where the options are
    // listed; one with them does not.
    size_t nLinuxOnly = 0;
    for (size_t nAt = help.out.find("Linux only"); nAt != std::string::npos; nAt = help.out.find("Linux only", nAt + 1))
        ++nLinuxOnly;
    EXPECT_EQ(nLinuxOnly, CMetricsServer::IsAvailable() ? 0u : 4u) << help.out;
    EXPECT_TRUE(Contains(RunCli({"--version"}).out, "tovrik-cli 1.0"));
}

TEST(CliTest, ThePortIsDecimalAndFailedSendsAreCounted)
{
    LoopbackPeer peer;
    const CliRun run = RunCli({"-p", "0" + Port(peer), "-m", "100ms", "--text", "{\"a\":1}"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(ReceiveAll(peer).size(), 2u) << "a leading zero is no octal";
    EXPECT_TRUE(Contains(run.out, "sent 2 datagrams in ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "; 0 could not be sent\n")) << run.out;

    // Not a name that any lookup could answer: no query leaves the machine.
    const CliRun failing = RunCli({"-t", "300.1.1.1", "-m", "100ms", "--text", "{\"a\":1}"});
    EXPECT_EQ(failing.nExit, 3) << "sends were tried and none went out";
    EXPECT_TRUE(Contains(failing.err, "warning: '300.1.1.1' does not resolve now")) << failing.err;
    EXPECT_TRUE(Contains(failing.out, "sent 0 datagrams in ")) << failing.out;
    EXPECT_TRUE(Contains(failing.out, "; 2 could not be sent\n")) << failing.out;
    EXPECT_TRUE(Contains(failing.out, " bytes not sent: ")) << failing.out;
    EXPECT_FALSE(Contains(failing.out, ".\n")) << "a reason without a full stop, as strerror's: " << failing.out;

    // One refused send is enough: port 0 refuses the device info message,
    // and the stop comes before the minute's first packet.
    ClearOfAWholeMinute();
    const CliRun once = RunCli({"-p", "0", "-m", "1min", "--stop-after", "0.3", "--text", "{\"a\":1}"});
    EXPECT_EQ(once.nExit, 3) << once.out;
    EXPECT_TRUE(Contains(once.out, "sent 0 datagrams in ")) << once.out;
    EXPECT_TRUE(Contains(once.out, "; 1 could not be sent\n")) << once.out;
}

TEST(CliTest, TextFilesAreReadWithTheImportsLimitsAndSayWhereTheCuttingStopped)
{
    TempDir dir;
    const CliRun directory = RunCli({"--dry-run", "--text-file", dir.Path()});
    EXPECT_EQ(directory.nExit, 2);
    EXPECT_EQ(directory.err, dir.Path() + ": Is a directory\n");

    // A device without end, and a file beyond the 32-bit lengths, are refused
    // without holding them.
    const std::string huge = dir.Write("huge.txt", "");
    std::filesystem::resize_file(std::filesystem::u8path(huge), uintmax_t{3} << 30);
    std::vector<std::string> tooLarge = {huge};
#ifndef _WIN32
    tooLarge.push_back("/dev/zero");  // Windows has no endless device
#endif
    for (const std::string& file : tooLarge) {
        const CliRun run = RunCli({"--dry-run", "--text-file", file});
        EXPECT_EQ(run.nExit, 2);
        EXPECT_EQ(run.err, file + ": file too large (the limit is about 2 GiB)\n");
    }

    const std::string broken = dir.Write("broken.txt", "{\"a\":1}\n{\"o\":{\"p\":1}}\n{\"c\":3}\n");
    for (const std::vector<std::string>& source :
         {std::vector<std::string>{"--text-file", broken}, std::vector<std::string>{"--import", broken}}) {
        const CliRun run = RunCli({"--dry-run", source[0], source[1]});
        EXPECT_EQ(run.nExit, source[0] == "--import" ? 2 : 0) << run.err;
        EXPECT_TRUE(Contains(run.err, "\nthe cutting stopped at byte 13 (line 2)")) << run.err;
        EXPECT_TRUE(Contains(run.err, "; 17 bytes were left uncut\n")) << run.err;
    }
}

TEST(CliTest, DryRunLoadsAndSendsNothing)
{
    LoopbackPeer peer;
    const CliRun run = RunCli({"-p", Port(peer), "--dry-run"});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.err, "dry run: 1 packet loaded; checked as a run would be, nothing is sent\n");
    EXPECT_TRUE(ReceiveAll(peer, 100).empty());
}

TEST(CliTest, InterruptAndTerminateStopTheRunLikeTheStopButton)
{
    for (const CliProcess::Stop stop : {CliProcess::Stop::kInterrupt, CliProcess::Stop::kTerminate}) {
        ClearOfAWholeMinute();
        LoopbackPeer peer;
        const CliRun run = RunCli({"-p", Port(peer), "-m", "1min", "-q", "--text", "{\"stop\":1}"}, 400, stop);
        EXPECT_EQ(run.nExit, 0) << static_cast<int>(stop);
        EXPECT_LT(run.dSeconds, 2.0);
        EXPECT_TRUE(Contains(run.err, "发送结束\n"));
        // Only the device info message; the packet is not due before the stop.
        // (Matched by content: a stray datagram of another test running at
        // the same time may reach a reused port.)
        const std::vector<std::string> got = ReceiveAll(peer, 50);
        EXPECT_NE(std::find(got.begin(), got.end(), TovrikTexts::kDeviceInfo), got.end());
        for (const std::string& bytes : got)
            EXPECT_FALSE(Contains(bytes, "stop")) << bytes;
    }
}

TEST(CliTest, ReplaySendsImportedMessagesAtTheirTimeOfDayWithTodaysDate)
{
    // Messages for the next two seconds of local time, dated years ago, and
    // one without "IMEI" that is never sent.
    const time_t now = time(nullptr);
    TempDir dir;
    std::string content;
    for (int i = 1; i <= 2; ++i) {
        content += "{\"IMEI\":\"9\",\"n\":" + std::to_string(i) + ",\"time\":\"2001-02-03 " +
                   LocalTime(now + i, "%H:%M:%S") + "\"}\n";
    }
    content += "{\"n\":0,\"time\":\"2001-02-03 " + LocalTime(now + 1, "%H:%M:%S") + "\"}\n";
    const std::string file = dir.Write("replay.txt", content);

    LoopbackPeer peer;
    const CliRun run = RunCli({"-p", Port(peer), "-m", "replay", "-q", "--import", file, "--stop-after", "3.3"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "一共解析 2 道"));
    const std::vector<std::string> got = ReceiveAll(peer);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], TovrikTexts::kDeviceInfo);
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(got[static_cast<size_t>(i)], "{\"IMEI\":\"9\",\"n\":" + std::to_string(i) + ",\"time\":\"" +
                                                   LocalTime(now + i, "%Y-%m-%d %H:%M:%S") + "\"}");
    }
}

TEST(CliTest, Ipv6TargetsAreSentToAndBroadcastsNeedTheirOption)
{
    LoopbackPeer peer(AF_INET6);
    for (const char* target : {"::1", "[::1]"}) {
        const CliRun run = RunCli({"-t", target, "-p", Port(peer), "--no-loop", "--text", "{\"a\":1}"});
        EXPECT_EQ(run.nExit, 0) << run.err;
        EXPECT_TRUE(Contains(run.out, " [::1]:" + Port(peer) + " 36 bytes\n")) << run.out;
        EXPECT_EQ(ReceiveAll(peer).size(), 2u) << target;
    }
    const CliRun family = RunCli({"-t", "127.0.0.1", "-6", "--dry-run"});
    EXPECT_EQ(family.nExit, 64);
    EXPECT_TRUE(Contains(family.err, "-6: '127.0.0.1' is an IPv4 address")) << family.err;

    // Refused before the endpoint opens: the kernel would refuse the send too.
    const CliRun broadcast = RunCli({"-t", "255.255.255.255", "--no-loop", "--text", "{\"a\":1}"});
    EXPECT_EQ(broadcast.nExit, 64);
    EXPECT_TRUE(Contains(broadcast.err, "'255.255.255.255' is a broadcast address: add --broadcast")) << broadcast.err;
    EXPECT_FALSE(Contains(broadcast.err, "开始发送")) << "nothing is said to start before a usage error";
    EXPECT_FALSE(Contains(broadcast.out, "bytes")) << broadcast.out;
    EXPECT_EQ(RunCli({"-t", "255.255.255.255", "--dry-run"}).nExit, 64) << "a dry run checks what a run checks";
    const CliRun ipv6 = RunCli({"-t", "::1", "-p", Port(peer), "--broadcast", "--no-loop", "--text", "{\"a\":1}"});
    EXPECT_EQ(ipv6.nExit, 64);
    EXPECT_TRUE(Contains(ipv6.err, "--broadcast: IPv6 has no broadcast")) << ipv6.err;
    EXPECT_TRUE(ReceiveAll(peer, 50).empty());
}
