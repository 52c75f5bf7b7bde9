#include "net/LoopbackPeer.h"

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"

#include <chrono>

namespace {

uint16_t PortOf(SocketHandle hSocket)
{
    sockaddr_storage addr{};
    SocketLength nLen = sizeof addr;
    getsockname(hSocket, reinterpret_cast<sockaddr*>(&addr), &nLen);
    return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
}

// The loopback address of a family with a port.
sockaddr_storage LoopbackOf(int nFamily, uint16_t nPort, SocketLength& nLength)
{
    sockaddr_storage addr{};
    CTargetAddress::Resolve(nFamily == AF_INET6 ? "::1" : "127.0.0.1", nFamily, nPort, addr, nLength);
    return addr;
}

}  // namespace

LoopbackPeer::LoopbackPeer(int nFamily) : m_nFamily(nFamily)
{
    m_hSocket = socket(nFamily, SOCK_DGRAM, 0);
    SocketLength nLength = 0;
    const sockaddr_storage addr = LoopbackOf(nFamily, 0, nLength);
    bind(m_hSocket, reinterpret_cast<const sockaddr*>(&addr), nLength);
    const int nSize = 4 * 1024 * 1024;
    setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&nSize), sizeof nSize);
}

LoopbackPeer::~LoopbackPeer()
{
    CSocketLibrary::CloseSocket(m_hSocket);
}

sockaddr_in LoopbackPeer::Address(uint16_t nPort)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

SocketHandle LoopbackPeer::BoundSocket(uint16_t& nPort)
{
    const SocketHandle hSocket = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in addr = Address(0);
    bind(hSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    nPort = PortOf(hSocket);
    return hSocket;
}

uint16_t LoopbackPeer::Port() const
{
    return PortOf(m_hSocket);
}

bool LoopbackPeer::SendTo(uint16_t nPort, const std::string& bytes) const
{
    SocketLength nLength = 0;
    const sockaddr_storage to = LoopbackOf(m_nFamily, nPort, nLength);
    const auto n = sendto(m_hSocket, bytes.data(), static_cast<int>(bytes.size()), 0,
                          reinterpret_cast<const sockaddr*>(&to), nLength);
    return n >= 0 && static_cast<size_t>(n) == bytes.size();
}

bool LoopbackPeer::Receive(std::string& bytes, int nTimeoutMs) const
{
    uint16_t nFromPort = 0;
    return ReceiveFrom(bytes, nFromPort, nTimeoutMs);
}

bool LoopbackPeer::ReceiveFrom(std::string& bytes, uint16_t& nFromPort, int nTimeoutMs) const
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_hSocket, &readable);
    timeval wait{nTimeoutMs / 1000, (nTimeoutMs % 1000) * 1000};
    if (select(static_cast<int>(m_hSocket) + 1, &readable, nullptr, nullptr, &wait) != 1)
        return false;
    bytes.resize(70000);
    sockaddr_storage from{};
    SocketLength nFrom = sizeof from;
    const auto n = recvfrom(m_hSocket, &bytes[0], static_cast<int>(bytes.size()), 0,
                            reinterpret_cast<sockaddr*>(&from), &nFrom);
    if (n < 0)
        return false;
    nFromPort = ntohs(reinterpret_cast<const sockaddr_in&>(from).sin_port);
    bytes.resize(static_cast<size_t>(n));
    return true;
}

std::vector<std::string> LoopbackPeer::Collect(int nMilliseconds) const
{
    std::vector<std::string> datagrams;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        std::string bytes;
        if (Receive(bytes, static_cast<int>(left.count())))
            datagrams.push_back(std::move(bytes));
    }
    return datagrams;
}
