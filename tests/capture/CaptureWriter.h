#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct pcap;
struct pcap_dumper;

// Writes test captures with libpcap's own dump functions (nanosecond pcap),
// and builds the frames that go in them. One writer, one thread.
class CaptureWriter {
public:
    // An IPv6 extension header: its type and its body after the next-header
    // and length bytes (padded here to whole 8-byte units; the length byte
    // in the unit of that type of header).
    using Extension = std::pair<uint8_t, std::string>;

    CaptureWriter(const std::string& strPath, int nLinkType, int nSnapLength = 65535);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // The frame cut to the snap length; its length on the wire is its own.
    void Write(int64_t nNs, const std::string& frame);
    void Close();

    // 127.0.0.nSource:nPort to 127.0.0.1:51609; nFragment is the flags and
    // offset field.
    static std::string Ipv4Udp(uint8_t nSource, uint16_t nPort, const std::string& payload, uint16_t nFragment = 0);
    static std::string Ipv4(uint8_t nProtocol, const std::string& body);
    // [::nSource]:nPort to [::1]:51609 behind the extension headers.
    static std::string Ipv6Udp(uint8_t nSource, uint16_t nPort, const std::string& payload,
                               const std::vector<Extension>& extensions = {});
    // EtherType 0x0800 or 0x86DD from the IP version, behind nTags VLAN tags.
    static std::string Ethernet(const std::string& ip, int nTags = 0);
    static std::string Sll(const std::string& ip);
    static std::string Sll2(const std::string& ip);
    static std::string Loopback(const std::string& ip);

private:
    pcap* m_pDead = nullptr;
    pcap_dumper* m_pDumper = nullptr;
    int m_nSnapLength;
};
