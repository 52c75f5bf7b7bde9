#include "send/CSocketSink.h"

#include "net/CSocketLibrary.h"

bool CSocketSink::Resolve(const std::string& strTarget, in_addr& address)
{
    // An empty name would mean this host to the Windows resolver.
    if (strTarget.empty())
        return false;
    if (inet_pton(AF_INET, strTarget.c_str(), &address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* pList = nullptr;
    if (getaddrinfo(strTarget.c_str(), nullptr, &hints, &pList) != 0 || pList == nullptr)
        return false;
    address = reinterpret_cast<const sockaddr_in*>(pList->ai_addr)->sin_addr;
    freeaddrinfo(pList);
    return true;
}

bool CSocketSink::Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (!Resolve(strTarget, to.sin_addr)) {
        CSocketLibrary::SetLastError(kSocketInvalidArgument);
        return false;
    }
    to.sin_port = htons(nPort);
    return sendto(m_hSocket, pData, static_cast<int>(nLength), kSocketNoSignal, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
}
