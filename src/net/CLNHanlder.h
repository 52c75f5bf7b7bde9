#pragma once

#include "net/CProtocolHandler.h"

// The application's receive handler: accepts every datagram and drops it.
class CLNHanlder : public CProtocolHandler {
public:
    int OnPacket(const char* pData, int nLength, const sockaddr* pFrom, int nFlag) override;
};
