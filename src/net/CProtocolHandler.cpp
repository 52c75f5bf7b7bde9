#include "net/CProtocolHandler.h"

CProtocolHandler::~CProtocolHandler() = default;

int CProtocolHandler::IsReady()
{
    return 1;
}

void CProtocolHandler::Reset() {}

int CProtocolHandler::OnPacket(const char*, int, const sockaddr*, int)
{
    return 1;
}
