#include "send/CSocketSink.h"

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"

CSocketSink::CSocketSink(SocketHandle hSocket) : m_hSocket(hSocket)
{
    sockaddr_storage local{};
    SocketLength nLength = sizeof local;
    if (getsockname(hSocket, reinterpret_cast<sockaddr*>(&local), &nLength) == 0 && local.ss_family == AF_INET6)
        m_nFamily = AF_INET6;
}

bool CSocketSink::Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength)
{
    sockaddr_storage to{};
    SocketLength nToLength = 0;
    if (!CTargetAddress::Resolve(strTarget, m_nFamily, nPort, to, nToLength)) {
        CSocketLibrary::SetLastError(kSocketInvalidArgument);
        return false;
    }
    return sendto(m_hSocket, pData, static_cast<int>(nLength), kSocketNoSignal, reinterpret_cast<const sockaddr*>(&to),
                  nToLength) >= 0;
}
