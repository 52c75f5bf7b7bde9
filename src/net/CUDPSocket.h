#pragma once

#include <cstdint>

#include "base/CStatus.h"
#include "net/CEventSocket.h"

class CProtocolHandler;

// The UDP endpoint (IPv4 unless asked for IPv6): bound to any local address, its network-event thread
// reads every datagram that arrives and hands it to the receive handler. Other
// threads may send through Handle() while it is open.
//
// The handler is not owned; install it before Create and keep it alive while
// the endpoint is open. Create, Close and the destructor belong to one thread
// (not the network-event thread).
class CUDPSocket : public CEventSocket {
public:
    // Larger than any UDP datagram, so nothing is ever cut short.
    static constexpr int kReceiveArea = 327680;
    static constexpr int kBufferSize = 65535;

    CUDPSocket();
    ~CUDPSocket() override;

    // Closes what was open, then opens a socket, starts the thread and binds
    // to the port (host order; 0 lets the system choose). On failure the
    // status holds the last socket error and its words, and the last socket
    // error stays set (a failed bind leaves the object closed and the error
    // at the bind's).
    CStatus Open(uint16_t nPort, int nFamily = AF_INET);
    // Open as 1 = open, 0 = failed.
    int Create(uint16_t nPort);
    void OnRead(int nError) override;
    // Allows (or forbids) sends to broadcast addresses (SO_BROADCAST).
    CStatus SetBroadcast(bool bOn);

    void SetHandler(CProtocolHandler* pHandler) { m_pHandler = pHandler; }
    CProtocolHandler* Handler() const { return m_pHandler; }
    // The bound local port in host order, 0 when not bound.
    uint16_t LocalPort() const;

private:
    static CStatus LastErrorStatus();

    sockaddr_storage m_addrLocal{};
    CProtocolHandler* m_pHandler = nullptr;
};

// The process's one endpoint, defined by each program's entry point.
extern CUDPSocket theUDPSocket;
