#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "capture/CCaptureLoader.h"
#include "capture/CFrameDecoder.h"
#include "capture/CaptureWriter.h"

namespace {

using W = CaptureWriter;

constexpr int64_t kMs = 1000000;
constexpr int64_t kT0 = 1796724000LL * 1000000000LL;

// Eight frames: four datagrams with messages from two sources, and one of
// each kind that is skipped. The file ends inside a ninth frame.
std::string WriteMixed(const TempDir& dir)
{
    const std::string strPath = dir.Path() + "/mixed.cap";
    {
        W writer(strPath, CFrameDecoder::kLinkEthernet, 200);
        writer.Write(kT0, W::Ethernet(W::Ipv4Udp(7, 4000, "{\"IMEI\":\"A\",\"time\":\"2020-07-18 15:22:59\"}\r\n"
                                                         "{\"IMEI\":\"A\",\"n\":2}", 0), 1));
        writer.Write(kT0 + 250 * kMs, W::Ethernet(W::Ipv6Udp(9, 4001, "{\"IMEI\":\"B\"}")));
        writer.Write(kT0 + 300 * kMs, W::Ethernet(W::Ipv4(6, std::string(20, '\0'))));
        writer.Write(kT0 + 310 * kMs, W::Ethernet(W::Ipv4Udp(7, 4000, "{\"IMEI\":\"A\"}", 0x2000)));
        writer.Write(kT0 + 320 * kMs, W::Ethernet(W::Ipv4Udp(7, 4000, "{\"IMEI\":\"" + std::string(300, '9') + "\"}")));
        writer.Write(kT0 + 330 * kMs, W::Ethernet(W::Ipv4Udp(7, 4000, "{\"x\":1}")));
        writer.Write(kT0 + 340 * kMs, W::Ethernet(W::Ipv4Udp(8, 4000, "hello")));
        writer.Write(kT0 + 1000 * kMs, W::Ethernet(W::Ipv4Udp(7, 4000, "{\"IMEI\":\"A\",\"n\":3}")));
    }
    std::ofstream(strPath, std::ios::binary | std::ios::app) << std::string(10, '\x01');
    return strPath;
}

const char kMixedSummary[] =
    "capture: 8 frames, 5 UDP datagrams read; skipped: 1 not UDP, 0 filtered out by --capture-filter, 1 truncated by "
    "the snap length, 1 IP fragments (not reassembled), 1 without a message in the payload; 5 messages cut, 4 with "
    "\"IMEI\" kept, from 2 sources";

std::string Text(const Packet& packet)
{
    return std::string(packet.data, static_cast<size_t>(packet.length));
}

}  // namespace

TEST(CCaptureLoaderTest, CutsEachDatagramAsAnImportAndTellsWhatItSkippedAndWhereTheFileBroke)
{
    TempDir dir;
    const CLoadResult loaded = CCaptureLoader::Load(WriteMixed(dir), std::nullopt);
    ASSERT_EQ(loaded.nStatus, CLoadResult::kOk) << loaded.Message();
    ASSERT_EQ(loaded.pPackets->size(), 4u);
    EXPECT_EQ(Text((*loaded.pPackets)[1]), "{\"IMEI\":\"A\",\"n\":2}");
    EXPECT_EQ(Text((*loaded.pPackets)[2]), "{\"IMEI\":\"B\"}");
    EXPECT_EQ(loaded.captureNs, (std::vector<int64_t>{0, 0, 250 * kMs, 1000 * kMs}));
    EXPECT_EQ(loaded.captureSource, (std::vector<uint32_t>{0, 0, 1, 0}));
    EXPECT_EQ(loaded.captureSources, (std::vector<std::string>{"127.0.0.7:4000", "[0:0:0:0:0:0:0:9]:4001"}));
    ASSERT_EQ(loaded.pIndex->size(), 1u);
    EXPECT_EQ(loaded.pIndex->begin()->first, 55379);
    EXPECT_EQ(loaded.strSummary.substr(0, loaded.strSummary.find('\n')), kMixedSummary);
    EXPECT_NE(loaded.strSummary.find("damaged at frame 9 (byte offset "), std::string::npos) << loaded.strSummary;
}

TEST(CCaptureLoaderTest, PcapngFromEditcapLoadsAsThePcapDoes)
{
    if (std::system("command -v editcap >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "editcap (wireshark-common) is not installed";
    TempDir dir;
    const std::string strPcap = WriteMixed(dir);
    const std::string strPcapng = dir.Path() + "/mixed.pcapng";
    // editcap stops at the broken tail too, with a message of its own.
    std::system(("editcap -F pcapng '" + strPcap + "' '" + strPcapng + "' >/dev/null 2>&1").c_str());
    const CLoadResult fromPcap = CCaptureLoader::Load(strPcap, std::nullopt);
    const CLoadResult fromPcapng = CCaptureLoader::Load(strPcapng, std::nullopt);
    ASSERT_EQ(fromPcapng.nStatus, CLoadResult::kOk) << fromPcapng.Message();
    ASSERT_EQ(fromPcapng.pPackets->size(), fromPcap.pPackets->size());
    for (size_t i = 0; i < fromPcap.pPackets->size(); ++i)
        EXPECT_EQ(Text((*fromPcapng.pPackets)[i]), Text((*fromPcap.pPackets)[i]));
    EXPECT_EQ(fromPcapng.captureNs, fromPcap.captureNs);
    EXPECT_EQ(fromPcapng.captureSources, fromPcap.captureSources);
}

TEST(CCaptureLoaderTest, AFilterChoosesTheDatagramsAndOneThatDoesNotCompileSaysWhy)
{
    TempDir dir;
    const std::string strPath = WriteMixed(dir);
    const CLoadResult filtered = CCaptureLoader::Load(strPath, std::string("udp src port 4001"));
    ASSERT_EQ(filtered.nStatus, CLoadResult::kOk);
    ASSERT_EQ(filtered.pPackets->size(), 1u);
    EXPECT_EQ(Text((*filtered.pPackets)[0]), "{\"IMEI\":\"B\"}");
    EXPECT_EQ(filtered.captureNs, std::vector<int64_t>{0}) << "times count from the first datagram kept";
    EXPECT_NE(filtered.strSummary.find(" 7 filtered out"), std::string::npos) << filtered.strSummary;

    const CLoadResult bad = CCaptureLoader::Load(strPath, std::string("udp port banana"));
    EXPECT_EQ(bad.nStatus, CLoadResult::kBadFilter);
    EXPECT_NE(bad.Message().find("'udp port banana': "), std::string::npos) << bad.Message();
}

TEST(CCaptureLoaderTest, NothingReadableIsAFailureAndACaptureWithoutMessagesHasNoPackets)
{
    TempDir dir;
    const std::string strHeaderOnly = dir.Write("cut.pcap", std::string("\xd4\xc3\xb2\xa1\x02\x00", 6));
    EXPECT_EQ(CCaptureLoader::Load(strHeaderOnly, std::nullopt).nStatus, CLoadResult::kUnreadable);
    const std::string strEmpty = dir.Path() + "/empty.pcap";
    {
        W writer(strEmpty, CFrameDecoder::kLinkRaw);
        writer.Write(kT0, W::Ipv4Udp(7, 4000, "{\"x\":1}"));
    }
    const CLoadResult loaded = CCaptureLoader::Load(strEmpty, std::nullopt);
    EXPECT_EQ(loaded.nStatus, CLoadResult::kNoPackets);
    // A message without "IMEI" is a message all the same: cut, not kept.
    EXPECT_NE(loaded.strSummary.find("0 without a message in the payload; 1 messages cut, 0 with"), std::string::npos)
        << loaded.strSummary;
}
