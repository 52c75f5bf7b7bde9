#include "net/CTargetAddress.h"

#include <cstring>

#include "net/CSocketLibrary.h"

bool CTargetAddress::StripBrackets(const std::string& strText, std::string& strHost)
{
    const bool bOpen = !strText.empty() && strText.front() == '[';
    const bool bClose = !strText.empty() && strText.back() == ']';
    if (!bOpen && !bClose) {
        strHost = strText;
        return true;
    }
    if (!bOpen || !bClose || strText.size() < 3)
        return false;
    strHost = strText.substr(1, strText.size() - 2);
    return LiteralFamily(strHost) == AF_INET6;
}

int CTargetAddress::LiteralFamily(const std::string& strHost)
{
    if (strHost.empty())
        return AF_UNSPEC;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* pList = nullptr;
    if (getaddrinfo(strHost.c_str(), nullptr, &hints, &pList) != 0 || pList == nullptr)
        return AF_UNSPEC;
    const int nFamily = pList->ai_family;
    freeaddrinfo(pList);
    return nFamily;
}

bool CTargetAddress::Resolve(const std::string& strHost, int nFamily, uint16_t nPort, sockaddr_storage& address,
                             SocketLength& nLength)
{
    // An empty name would mean this host to the Windows resolver.
    if (strHost.empty())
        return false;
    address = sockaddr_storage{};
    if (nFamily != AF_INET6) {
        // The common case without a resolver call: one per datagram adds up.
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        if (inet_pton(AF_INET, strHost.c_str(), &v4.sin_addr) == 1) {
            v4.sin_family = AF_INET;
            v4.sin_port = htons(nPort);
            nLength = sizeof v4;
            return true;
        }
    }
    addrinfo hints{};
    hints.ai_family = nFamily;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* pList = nullptr;
    if (getaddrinfo(strHost.c_str(), nullptr, &hints, &pList) != 0 || pList == nullptr)
        return false;
    const bool bFits = pList->ai_addrlen <= sizeof address &&
                       (pList->ai_family == AF_INET || pList->ai_family == AF_INET6);
    if (bFits) {
        std::memcpy(&address, pList->ai_addr, pList->ai_addrlen);
        nLength = static_cast<SocketLength>(pList->ai_addrlen);
        if (address.ss_family == AF_INET)
            reinterpret_cast<sockaddr_in&>(address).sin_port = htons(nPort);
        else
            reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(nPort);
    }
    freeaddrinfo(pList);
    return bFits;
}

std::string CTargetAddress::EndpointText(const std::string& strHost, uint16_t nPort)
{
    const bool bBracket = strHost.find(':') != std::string::npos;
    return (bBracket ? "[" + strHost + "]" : strHost) + ":" + std::to_string(nPort);
}

std::string CTargetAddress::AddressText(const sockaddr_storage& address)
{
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "0";
    getnameinfo(reinterpret_cast<const sockaddr*>(&address), LengthOf(address), host, sizeof host, port, sizeof port,
                NI_NUMERICHOST | NI_NUMERICSERV | NI_DGRAM);
    return EndpointText(host, static_cast<uint16_t>(std::strtoul(port, nullptr, 10)));
}

bool CTargetAddress::IsBroadcast(const sockaddr_storage& address)
{
    if (address.ss_family != AF_INET)
        return false;
    const in_addr v4 = reinterpret_cast<const sockaddr_in&>(address).sin_addr;
    return v4.s_addr == htonl(INADDR_BROADCAST) || CSocketLibrary::IsInterfaceBroadcast(v4);
}

const char* CTargetAddress::FamilyName(int nFamily)
{
    return nFamily == AF_INET6 ? "IPv6" : "IPv4";
}

SocketLength CTargetAddress::LengthOf(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : static_cast<SocketLength>(sizeof(sockaddr_in));
}

std::string CTargetAddress::Refusal(const std::string& strTarget, const sockaddr_storage& target, bool bBroadcast)
{
    if (bBroadcast && target.ss_family == AF_INET6)
        return "--broadcast: IPv6 has no broadcast; '" + strTarget + "' is an IPv6 address";
    if (!bBroadcast && IsBroadcast(target))
        return "'" + strTarget + "' is a broadcast address: add --broadcast to send to it";
    return std::string();
}
