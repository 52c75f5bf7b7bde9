#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A UDP socket on 127.0.0.1 and a port the system chooses, for the window's
// datagrams to arrive at.
class CLoopbackReceiver {
public:
    CLoopbackReceiver();
    ~CLoopbackReceiver();
    CLoopbackReceiver(const CLoopbackReceiver&) = delete;
    CLoopbackReceiver& operator=(const CLoopbackReceiver&) = delete;

    uint16_t Port() const { return m_nPort; }
    // The next datagram, waiting at most nTimeoutMs; false when none came.
    bool Receive(std::string& strDatagram, int nTimeoutMs = 3000);
    // Every datagram that arrives within nMilliseconds.
    std::vector<std::string> Collect(int nMilliseconds);

private:
    int m_hSocket = -1;
    uint16_t m_nPort = 0;
};
