#pragma once

#include "net/SocketTypes.h"

// Receives what arrives at the UDP endpoint, on the endpoint's network-event
// thread. The bytes are only valid during OnPacket.
class CProtocolHandler {
public:
    virtual ~CProtocolHandler();
    virtual int IsReady();
    virtual void Reset();
    virtual int OnPacket(const char* pData, int nLength, const sockaddr* pFrom, int nFlag);
};
