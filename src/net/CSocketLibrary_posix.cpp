#include "net/CSocketLibrary.h"

#include <ifaddrs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

CSocketLibrary::CSocketLibrary() : m_bStarted(true) {}

CSocketLibrary::~CSocketLibrary() = default;

void CSocketLibrary::CloseSocket(SocketHandle hSocket)
{
    close(hSocket);
}

int CSocketLibrary::LastError()
{
    return errno;
}

void CSocketLibrary::SetLastError(int nError)
{
    errno = nError;
}

std::string CSocketLibrary::ErrorText(int nError)
{
    return std::strerror(nError);
}

bool CSocketLibrary::IsInterfaceBroadcast(const in_addr& address)
{
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0)
        return false;
    bool bFound = false;
    // Worked out from each address and netmask rather than read from the
    // broadcast field: the kernel routes a subnet's top address as a
    // broadcast on interfaces without IFF_BROADCAST too (loopback).
    for (const ifaddrs* p = pList; p != nullptr && !bFound; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_netmask == nullptr || p->ifa_addr->sa_family != AF_INET)
            continue;
        const uint32_t nAddress = ntohl(reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
        const uint32_t nMask = ntohl(reinterpret_cast<const sockaddr_in*>(p->ifa_netmask)->sin_addr.s_addr);
        // /31 and /32 have no broadcast address.
        bFound = (~nMask) > 1 && (nAddress | ~nMask) == ntohl(address.s_addr);
    }
    freeifaddrs(pList);
    return bFound;
}
