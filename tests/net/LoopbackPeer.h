#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

// A plain UDP socket on 127.0.0.1 for tests: sends to and receives from the
// code under test.
class LoopbackPeer {
public:
    LoopbackPeer()
    {
        m_hSocket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr = Address(0);
        bind(m_hSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        const int nSize = 4 * 1024 * 1024;
        setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &nSize, sizeof nSize);
    }
    ~LoopbackPeer() { close(m_hSocket); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    static sockaddr_in Address(uint16_t nPort)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(nPort);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return addr;
    }

    uint16_t Port() const
    {
        sockaddr_in addr{};
        socklen_t nLen = sizeof addr;
        getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&addr), &nLen);
        return ntohs(addr.sin_port);
    }

    bool SendTo(uint16_t nPort, const std::string& bytes) const
    {
        const sockaddr_in to = Address(nPort);
        return sendto(m_hSocket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(bytes.size());
    }

    // One datagram, or false when none came within nTimeoutMs.
    bool Receive(std::string& bytes, int nTimeoutMs) const
    {
        uint16_t nFromPort = 0;
        return ReceiveFrom(bytes, nFromPort, nTimeoutMs);
    }
    // The same, with the sender's port.
    bool ReceiveFrom(std::string& bytes, uint16_t& nFromPort, int nTimeoutMs) const
    {
        pollfd fd{m_hSocket, POLLIN, 0};
        if (poll(&fd, 1, nTimeoutMs) != 1)
            return false;
        bytes.resize(70000);
        sockaddr_in from{};
        socklen_t nFrom = sizeof from;
        const ssize_t n = recvfrom(m_hSocket, &bytes[0], bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &nFrom);
        nFromPort = ntohs(from.sin_port);
        if (n < 0)
            return false;
        bytes.resize(static_cast<size_t>(n));
        return true;
    }

private:
    int m_hSocket = -1;
};
