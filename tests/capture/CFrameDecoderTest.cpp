#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/CFrameDecoder.h"
#include "capture/CaptureWriter.h"

namespace {

using Kind = CFrameDecoder::Kind;
using W = CaptureWriter;

const std::string kPayload = "{\"IMEI\":\"1\"}";

struct FrameCase {
    const char* pszName;
    int nLinkType;
    std::string frame;
    Kind nKind;
    const char* pszSource;  // kUdp: the source's text
    size_t nCut = 0;        // bytes the snap length cut off the end
};

std::vector<FrameCase> Cases()
{
    const std::string v4 = W::Ipv4Udp(7, 4000, kPayload);
    const std::string v6 = W::Ipv6Udp(9, 4001, kPayload);
    const std::string v6Extensions =
        W::Ipv6Udp(9, 4001, kPayload, {{0, "hop"}, {43, std::string(14, 'r')}, {44, std::string(6, '\0')}, {60, "d"}});
    return {
        {"Ethernet", CFrameDecoder::kLinkEthernet, W::Ethernet(v4), Kind::kUdp, "127.0.0.7:4000"},
        {"EthernetStackedVlan", CFrameDecoder::kLinkEthernet, W::Ethernet(v6, 2), Kind::kUdp, "[0:0:0:0:0:0:0:9]:4001"},
        {"EthernetOneVlan", CFrameDecoder::kLinkEthernet, W::Ethernet(v4, 1), Kind::kUdp, "127.0.0.7:4000"},
        {"Sll", CFrameDecoder::kLinkSll, W::Sll(v6), Kind::kUdp, "[0:0:0:0:0:0:0:9]:4001"},
        {"Sll2", CFrameDecoder::kLinkSll2, W::Sll2(v4), Kind::kUdp, "127.0.0.7:4000"},
        {"Raw", CFrameDecoder::kLinkRaw, v6, Kind::kUdp, "[0:0:0:0:0:0:0:9]:4001"},
        {"Ipv4", CFrameDecoder::kLinkIpv4, v4, Kind::kUdp, "127.0.0.7:4000"},
        {"Loopback", CFrameDecoder::kLinkNull, W::Loopback(v6), Kind::kUdp, "[0:0:0:0:0:0:0:9]:4001"},
        {"Ipv6Extensions", CFrameDecoder::kLinkIpv6, v6Extensions, Kind::kUdp, "[0:0:0:0:0:0:0:9]:4001"},
        // 24 bytes, length byte 4: (4 + 2) * 4; read as (4 + 1) * 8 it would be 40.
        {"Ipv6Authentication", CFrameDecoder::kLinkRaw, W::Ipv6Udp(9, 4001, kPayload, {{51, std::string(22, 'a')}}),
         Kind::kUdp, "[0:0:0:0:0:0:0:9]:4001"},
        {"EthernetPadded", CFrameDecoder::kLinkEthernet, W::Ethernet(v4) + std::string(6, '\0'), Kind::kUdp,
         "127.0.0.7:4000"},
        {"Tcp", CFrameDecoder::kLinkRaw, W::Ipv4(6, std::string(20, '\0')), Kind::kNotUdp, ""},
        {"Arp", CFrameDecoder::kLinkEthernet, std::string(12, '\x02') + "\x08\x06" + std::string(28, '\0'),
         Kind::kNotUdp, ""},
        {"UnknownLink", 147, v4, Kind::kNotUdp, ""},
        {"ShortUdpLength", CFrameDecoder::kLinkRaw, v4.substr(0, v4.size() - 1), Kind::kNotUdp, ""},
        {"Ipv4MoreFragments", CFrameDecoder::kLinkRaw, W::Ipv4Udp(7, 4000, kPayload, 0x2000), Kind::kFragment, ""},
        {"Ipv4LaterFragment", CFrameDecoder::kLinkRaw, W::Ipv4Udp(7, 4000, kPayload, 0x0010), Kind::kFragment, ""},
        {"Ipv4DontFragment", CFrameDecoder::kLinkRaw, W::Ipv4Udp(7, 4000, kPayload, 0x4000), Kind::kUdp,
         "127.0.0.7:4000"},
        {"Ipv6Fragment", CFrameDecoder::kLinkIpv6, W::Ipv6Udp(9, 4001, kPayload, {{44, std::string("\x00\x01", 2)}}),
         Kind::kFragment, ""},
        {"TruncatedPayload", CFrameDecoder::kLinkEthernet, W::Ethernet(v4), Kind::kTruncated, "", 3},
        {"TruncatedHeaders", CFrameDecoder::kLinkSll2, W::Sll2(v6), Kind::kTruncated, "", 60},
        {"TruncatedVlan", CFrameDecoder::kLinkEthernet, W::Ethernet(v4, 2), Kind::kTruncated, "", v4.size() + 4},
    };
}

class CFrameDecoderTest : public ::testing::TestWithParam<FrameCase> {};

}  // namespace

TEST_P(CFrameDecoderTest, FindsTheDatagramOrSaysWhyNot)
{
    const FrameCase& c = GetParam();
    const auto* p = reinterpret_cast<const uint8_t*>(c.frame.data());
    CFrameDecoder::Datagram datagram;
    ASSERT_EQ(CFrameDecoder::Decode(c.nLinkType, p, c.frame.size() - c.nCut, c.frame.size(), datagram), c.nKind);
    if (c.nKind != Kind::kUdp)
        return;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(datagram.pPayload), datagram.nPayload), kPayload);
    EXPECT_EQ(CFrameDecoder::AddressText(datagram.source), c.pszSource);
    EXPECT_NE(CFrameDecoder::AddressText(datagram.destination).find(":51609"), std::string::npos);
}

TEST_P(CFrameDecoderTest, AFrameCutShortIsTruncatedNeverADatagram)
{
    // Every cut of the frame is answered from its own bytes (the sanitizer
    // build checks the reads); one that cuts into a datagram is truncated.
    const FrameCase& c = GetParam();
    for (size_t n = 0; n + 6 < c.frame.size(); ++n) {
        const std::vector<uint8_t> prefix(c.frame.begin(), c.frame.begin() + static_cast<std::ptrdiff_t>(n));
        CFrameDecoder::Datagram datagram;
        const Kind nKind = CFrameDecoder::Decode(c.nLinkType, prefix.data(), n, c.frame.size(), datagram);
        if (c.nKind == Kind::kUdp)
            EXPECT_EQ(nKind, Kind::kTruncated) << n;
        else
            EXPECT_NE(nKind, Kind::kUdp) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, CFrameDecoderTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FrameCase>& info) { return info.param.pszName; });
