#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/SocketTypes.h"

// A plain UDP socket on 127.0.0.1 (or ::1 when made with AF_INET6) for
// tests: sends to and receives from the code under test.
class LoopbackPeer {
public:
    explicit LoopbackPeer(int nFamily = AF_INET);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    static sockaddr_in Address(uint16_t nPort);
    // A UDP socket bound to 127.0.0.1 and a port the system chose; the caller
    // closes it.
    static SocketHandle BoundSocket(uint16_t& nPort);

    uint16_t Port() const;
    bool SendTo(uint16_t nPort, const std::string& bytes) const;
    // One datagram, or false when none came within nTimeoutMs.
    bool Receive(std::string& bytes, int nTimeoutMs = 3000) const;
    // The same, with the sender's port.
    bool ReceiveFrom(std::string& bytes, uint16_t& nFromPort, int nTimeoutMs) const;
    // Every datagram that arrives within nMilliseconds.
    std::vector<std::string> Collect(int nMilliseconds) const;

private:
    SocketHandle m_hSocket;
    int m_nFamily;
};
