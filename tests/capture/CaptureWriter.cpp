#include "capture/CaptureWriter.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <stdexcept>

namespace {

std::string Be16(uint16_t n)
{
    return std::string{static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)};
}

uint16_t EtherType(const std::string& ip)
{
    return (static_cast<uint8_t>(ip[0]) >> 4) == 6 ? 0x86DD : 0x0800;
}

std::string UdpHeader(uint16_t nPort, const std::string& payload)
{
    return Be16(nPort) + Be16(51609) + Be16(static_cast<uint16_t>(8 + payload.size())) + Be16(0);
}

}  // namespace

CaptureWriter::CaptureWriter(const std::string& strPath, int nLinkType, int nSnapLength)
    : m_nSnapLength(nSnapLength)
{
    m_pDead = pcap_open_dead_with_tstamp_precision(nLinkType, nSnapLength, PCAP_TSTAMP_PRECISION_NANO);
    m_pDumper = m_pDead ? pcap_dump_open(m_pDead, strPath.c_str()) : nullptr;
    if (m_pDumper == nullptr)
        throw std::runtime_error("cannot write " + strPath);
}

CaptureWriter::~CaptureWriter()
{
    Close();
}

void CaptureWriter::Write(int64_t nNs, const std::string& frame)
{
    pcap_pkthdr header{};
    header.ts.tv_sec = nNs / 1000000000;
    header.ts.tv_usec = nNs % 1000000000;
    header.len = static_cast<bpf_u_int32>(frame.size());
    header.caplen = std::min<bpf_u_int32>(header.len, static_cast<bpf_u_int32>(m_nSnapLength));
    pcap_dump(reinterpret_cast<u_char*>(m_pDumper), &header, reinterpret_cast<const u_char*>(frame.data()));
}

void CaptureWriter::Close()
{
    if (m_pDumper != nullptr)
        pcap_dump_close(m_pDumper);
    if (m_pDead != nullptr)
        pcap_close(m_pDead);
    m_pDumper = nullptr;
    m_pDead = nullptr;
}

std::string CaptureWriter::Ipv4(uint8_t nProtocol, const std::string& body)
{
    std::string ip = std::string("\x45\x00", 2) + Be16(static_cast<uint16_t>(20 + body.size())) + Be16(0) + Be16(0);
    ip += std::string{64, static_cast<char>(nProtocol), 0, 0};
    ip += std::string("\x7f\x00\x00\x02\x7f\x00\x00\x01", 8);
    return ip + body;
}

std::string CaptureWriter::Ipv4Udp(uint8_t nSource, uint16_t nPort, const std::string& payload, uint16_t nFragment)
{
    std::string ip = Ipv4(17, UdpHeader(nPort, payload) + payload);
    ip[6] = static_cast<char>(nFragment >> 8);
    ip[7] = static_cast<char>(nFragment & 0xFF);
    ip[15] = static_cast<char>(nSource);
    return ip;
}

std::string CaptureWriter::Ipv6Udp(uint8_t nSource, uint16_t nPort, const std::string& payload,
                                   const std::vector<Extension>& extensions)
{
    std::string body;
    for (size_t i = 0; i < extensions.size(); ++i) {
        const uint8_t nNext = i + 1 < extensions.size() ? extensions[i + 1].first : 17;
        std::string ext = extensions[i].second;
        // A fragment header is 8 bytes whole; an authentication header
        // counts 4-byte units less 2, the rest 8-byte units less 1.
        const bool bFragment = extensions[i].first == 44;
        const bool bAuthentication = extensions[i].first == 51;
        ext.resize(bFragment ? 6 : ((ext.size() + 2 + 7) / 8) * 8 - 2, '\0');
        body += static_cast<char>(nNext);
        const size_t nLength = bFragment ? 0 : bAuthentication ? (ext.size() + 2) / 4 - 2 : (ext.size() + 2) / 8 - 1;
        body += static_cast<char>(nLength);
        body += ext;
    }
    body += UdpHeader(nPort, payload) + payload;
    std::string ip = std::string("\x60\x00\x00\x00", 4) + Be16(static_cast<uint16_t>(body.size()));
    ip += static_cast<char>(extensions.empty() ? 17 : extensions[0].first);
    ip += static_cast<char>(64);
    std::string source(16, '\0');
    source[15] = static_cast<char>(nSource);
    std::string destination(16, '\0');
    destination[15] = 1;
    return ip + source + destination + body;
}

std::string CaptureWriter::Ethernet(const std::string& ip, int nTags)
{
    std::string frame(12, '\x02');
    for (int i = 0; i < nTags; ++i)
        frame += Be16(i == 0 && nTags > 1 ? 0x88A8 : 0x8100) + Be16(static_cast<uint16_t>(100 + i));
    return frame + Be16(EtherType(ip)) + ip;
}

std::string CaptureWriter::Sll(const std::string& ip)
{
    return std::string("\x00\x00\x03\x04\x00\x06", 6) + std::string(8, '\x02') + Be16(EtherType(ip)) + ip;
}

std::string CaptureWriter::Sll2(const std::string& ip)
{
    return Be16(EtherType(ip)) + std::string(2, '\0') + std::string("\x00\x00\x00\x01\x03\x04\x00\x06", 8) +
           std::string(8, '\x02') + ip;
}

std::string CaptureWriter::Loopback(const std::string& ip)
{
    const char nFamily = EtherType(ip) == 0x0800 ? 2 : 30;
    return std::string{nFamily, 0, 0, 0} + ip;
}
