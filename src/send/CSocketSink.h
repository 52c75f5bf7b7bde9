#pragma once

#include "net/SocketTypes.h"
#include "send/CDatagramSink.h"

// Sends through an open IPv4 datagram socket (not owned). The target is a
// dotted quad, or else a host name resolved at every send; when neither
// works nothing is sent and the last socket error is kSocketInvalidArgument.
class CSocketSink : public CDatagramSink {
public:
    explicit CSocketSink(SocketHandle hSocket) : m_hSocket(hSocket) {}
    bool Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength) override;

    // The target's IPv4 address: dotted quad first, then a name lookup.
    static bool Resolve(const std::string& strTarget, in_addr& address);

private:
    SocketHandle m_hSocket;
};
