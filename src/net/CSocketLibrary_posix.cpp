#include "net/CSocketLibrary.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <cerrno>
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
    for (const ifaddrs* p = pList; p != nullptr && !bFound; p = p->ifa_next) {
        if ((p->ifa_flags & IFF_BROADCAST) && p->ifa_broadaddr != nullptr && p->ifa_broadaddr->sa_family == AF_INET)
            bFound = reinterpret_cast<const sockaddr_in*>(p->ifa_broadaddr)->sin_addr.s_addr == address.s_addr;
    }
    freeifaddrs(pList);
    return bFound;
}
