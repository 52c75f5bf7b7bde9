#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Finds the UDP datagram in one captured frame: the link layer (Ethernet
// with any number of 802.1Q/802.1ad tags, Linux cooked v1 and v2, raw IP,
// BSD loopback), IPv4 or IPv6 (hop-by-hop, routing, destination options and
// fragment headers passed over), then UDP. Fragments are not reassembled:
// any frame holding a piece of a fragmented datagram is answered kFragment.
// Works on the bytes alone; stateless, any thread.
class CFrameDecoder {
public:
    enum class Kind {
        kUdp,        // a whole datagram: see Datagram
        kNotUdp,     // another protocol, a link type not read, or a malformed frame
        kFragment,   // a piece of a fragmented IP datagram
        kTruncated,  // the capture's snap length cut the datagram short
    };

    struct Datagram {
        // The source and destination as family byte, address and port
        // (network order): a key that tells sources apart.
        std::string source;
        std::string destination;
        const uint8_t* pPayload = nullptr;  // into the frame's bytes
        size_t nPayload = 0;
    };

    // The link types read, as libpcap's DLT_ values.
    static constexpr int kLinkNull = 0;
    static constexpr int kLinkEthernet = 1;
    static constexpr int kLinkRaw = 12;
    static constexpr int kLinkRawOpenBsd = 14;
    static constexpr int kLinkRawFile = 101;
    static constexpr int kLinkLoop = 108;
    static constexpr int kLinkSll = 113;
    static constexpr int kLinkIpv4 = 228;
    static constexpr int kLinkIpv6 = 229;
    static constexpr int kLinkSll2 = 276;

    static bool ReadsLink(int nLinkType);

    // nCaptured bytes at pFrame of a frame nOriginal bytes long on the wire.
    static Kind Decode(int nLinkType, const uint8_t* pFrame, size_t nCaptured, size_t nOriginal, Datagram& datagram);

    // "192.0.2.1:51609" or "[2001:db8:0:0:0:0:0:1]:51609" for a key of Datagram.
    static std::string AddressText(const std::string& key);
};
