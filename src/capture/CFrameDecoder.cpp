#include "capture/CFrameDecoder.h"

#include <algorithm>
#include <cstdio>

namespace {

using Kind = CFrameDecoder::Kind;

constexpr uint16_t kTypeIpv4 = 0x0800;
constexpr uint16_t kTypeIpv6 = 0x86DD;
constexpr uint8_t kProtocolUdp = 17;
constexpr size_t kUdpHeader = 8;

uint16_t Be16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool IsVlanTag(uint16_t nType)
{
    return nType == 0x8100 || nType == 0x88A8 || nType == 0x9100;
}

// The frame's captured bytes from some header on, and whether the capture
// cut the frame short: headers that run past the end are then the snap
// length's doing, otherwise the frame is malformed.
struct Bytes {
    const uint8_t* p;
    size_t n;
    bool bCut;

    Kind Short() const { return bCut ? Kind::kTruncated : Kind::kNotUdp; }
};

std::string Key(char cFamily, const uint8_t* pAddress, size_t nAddress, const uint8_t* pPort)
{
    std::string key(1, cFamily);
    key.append(reinterpret_cast<const char*>(pAddress), nAddress);
    key.append(reinterpret_cast<const char*>(pPort), 2);
    return key;
}

// The UDP header at u, nAvailable bytes of it captured, nInIp bytes long by
// the IP header's count.
Kind Udp(const uint8_t* u, size_t nAvailable, size_t nInIp, bool bCut, const uint8_t* pSource,
         const uint8_t* pDestination, size_t nAddress, CFrameDecoder::Datagram& datagram)
{
    if (nInIp < kUdpHeader)
        return Kind::kNotUdp;
    if (nAvailable < kUdpHeader)
        return bCut ? Kind::kTruncated : Kind::kNotUdp;
    const size_t nUdp = Be16(u + 4);
    if (nUdp < kUdpHeader || nUdp > nInIp)
        return Kind::kNotUdp;
    if (nUdp > nAvailable)
        return bCut ? Kind::kTruncated : Kind::kNotUdp;
    const char cFamily = nAddress == 4 ? '4' : '6';
    datagram.source = Key(cFamily, pSource, nAddress, u);
    datagram.destination = Key(cFamily, pDestination, nAddress, u + 2);
    datagram.pPayload = u + kUdpHeader;
    datagram.nPayload = nUdp - kUdpHeader;
    return Kind::kUdp;
}

Kind Ipv4(const Bytes& b, CFrameDecoder::Datagram& datagram)
{
    if (b.n < 20)
        return b.Short();
    const size_t nHeader = static_cast<size_t>(b.p[0] & 0x0F) * 4;
    const size_t nTotal = Be16(b.p + 2);
    if (nHeader < 20 || nTotal < nHeader)
        return Kind::kNotUdp;
    if (b.n < nHeader)
        return b.Short();
    // More fragments, or an offset: a piece of a larger datagram.
    if ((Be16(b.p + 6) & 0x3FFF) != 0)
        return Kind::kFragment;
    if (b.p[9] != kProtocolUdp)
        return Kind::kNotUdp;
    if (nTotal > b.n && !b.bCut)
        return Kind::kNotUdp;
    const size_t nEnd = std::min(nTotal, b.n);
    return Udp(b.p + nHeader, nEnd - nHeader, nTotal - nHeader, b.bCut, b.p + 12, b.p + 16, 4, datagram);
}

Kind Ipv6(const Bytes& b, CFrameDecoder::Datagram& datagram)
{
    if (b.n < 40)
        return b.Short();
    const size_t nPayload = Be16(b.p + 4);
    const size_t nTotal = 40 + nPayload;
    if (nPayload == 0)
        return Kind::kNotUdp;  // a jumbogram, or nothing
    if (nTotal > b.n && !b.bCut)
        return Kind::kNotUdp;
    const size_t nEnd = std::min(nTotal, b.n);
    uint8_t nNext = b.p[6];
    size_t nAt = 40;
    for (;;) {
        if (nNext == kProtocolUdp)
            return Udp(b.p + nAt, nEnd - nAt, nTotal - nAt, b.bCut, b.p + 8, b.p + 24, 16, datagram);
        if (nNext == 0 || nNext == 43 || nNext == 60 || nNext == 51) {
            // Hop-by-hop, routing, destination options; authentication
            // counts its length in 4-byte units.
            if (nAt + 2 > nEnd)
                return nEnd < nTotal ? b.Short() : Kind::kNotUdp;
            const size_t nLength = nNext == 51 ? (static_cast<size_t>(b.p[nAt + 1]) + 2) * 4
                                               : (static_cast<size_t>(b.p[nAt + 1]) + 1) * 8;
            nNext = b.p[nAt];
            nAt += nLength;
        } else if (nNext == 44) {
            if (nAt + 8 > nEnd)
                return nEnd < nTotal ? b.Short() : Kind::kNotUdp;
            // An offset or more fragments; an atomic fragment is whole.
            if ((Be16(b.p + nAt + 2) & 0xFFF9) != 0)
                return Kind::kFragment;
            nNext = b.p[nAt];
            nAt += 8;
        } else {
            return Kind::kNotUdp;
        }
        if (nAt > nTotal)
            return Kind::kNotUdp;
        if (nAt > nEnd)
            return b.Short();
    }
}

Kind ByVersion(const Bytes& b, CFrameDecoder::Datagram& datagram)
{
    if (b.n < 1)
        return b.Short();
    const int nVersion = b.p[0] >> 4;
    if (nVersion == 4)
        return Ipv4(b, datagram);
    if (nVersion == 6)
        return Ipv6(b, datagram);
    return Kind::kNotUdp;
}

// The link header's EtherType at nTypeAt, the network header at nAt, with
// any VLAN tags between.
Kind ByEtherType(const Bytes& b, size_t nTypeAt, size_t nAt, CFrameDecoder::Datagram& datagram)
{
    if (b.n < nAt)
        return b.Short();
    uint16_t nType = Be16(b.p + nTypeAt);
    while (IsVlanTag(nType)) {
        if (b.n < nAt + 4)
            return b.Short();
        nType = Be16(b.p + nAt + 2);
        nAt += 4;
    }
    const Bytes rest{b.p + nAt, b.n - nAt, b.bCut};
    if (nType == kTypeIpv4)
        return Ipv4(rest, datagram);
    if (nType == kTypeIpv6)
        return Ipv6(rest, datagram);
    return Kind::kNotUdp;
}

}  // namespace

bool CFrameDecoder::ReadsLink(int nLinkType)
{
    switch (nLinkType) {
    case kLinkNull:
    case kLinkEthernet:
    case kLinkRaw:
    case kLinkRawOpenBsd:
    case kLinkRawFile:
    case kLinkLoop:
    case kLinkSll:
    case kLinkIpv4:
    case kLinkIpv6:
    case kLinkSll2:
        return true;
    default:
        return false;
    }
}

CFrameDecoder::Kind CFrameDecoder::Decode(int nLinkType, const uint8_t* pFrame, size_t nCaptured, size_t nOriginal,
                                          Datagram& datagram)
{
    const Bytes b{pFrame, nCaptured, nCaptured < nOriginal};
    switch (nLinkType) {
    case kLinkEthernet:
        return ByEtherType(b, 12, 14, datagram);
    case kLinkSll:
        return ByEtherType(b, 14, 16, datagram);
    case kLinkSll2:
        return ByEtherType(b, 0, 20, datagram);
    case kLinkNull:
    case kLinkLoop:
        // A 4-byte address family first; the IP version tells the rest.
        if (b.n < 4)
            return b.Short();
        return ByVersion(Bytes{b.p + 4, b.n - 4, b.bCut}, datagram);
    case kLinkRaw:
    case kLinkRawOpenBsd:
    case kLinkRawFile:
    case kLinkIpv4:
    case kLinkIpv6:
        return ByVersion(b, datagram);
    default:
        return Kind::kNotUdp;
    }
}

std::string CFrameDecoder::AddressText(const std::string& key)
{
    const auto* p = reinterpret_cast<const uint8_t*>(key.data());
    char text[64];
    if (key.size() == 7 && key[0] == '4') {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", p[1], p[2], p[3], p[4], Be16(p + 5));
        return text;
    }
    if (key.size() == 19 && key[0] == '6') {
        std::string strText = "[";
        for (int i = 0; i < 8; ++i) {
            std::snprintf(text, sizeof text, i == 0 ? "%x" : ":%x", Be16(p + 1 + 2 * i));
            strText += text;
        }
        std::snprintf(text, sizeof text, "]:%u", Be16(p + 17));
        return strText + text;
    }
    return "?";
}
