#pragma once

#include "net/SocketTypes.h"
#include "send/CDatagramSink.h"

// Sends through an open, bound datagram socket (not owned), to addresses of
// the socket's own family. The target is a numeric address, or else a host
// name resolved at every send; when neither works nothing is sent and the
// last socket error is kSocketInvalidArgument.
class CSocketSink : public CDatagramSink {
public:
    explicit CSocketSink(SocketHandle hSocket);
    bool Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength) override;

private:
    SocketHandle m_hSocket;
    int m_nFamily = AF_INET;
};
