#include "receive/CReceiveSocket.h"

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"

CStatus CReceiveSocket::Open(const std::string& strAddress, uint16_t nPort)
{
    const std::string strWhere = "cannot listen on " + CTargetAddress::EndpointText(strAddress, nPort);
    SocketLength nLength = 0;
    if (!CTargetAddress::Resolve(strAddress, AF_UNSPEC, nPort, m_local, nLength))
        return CStatus::Error(strWhere + ": not an IPv4 or IPv6 address");
    const CStatus created = Create(m_local.ss_family, strWhere);
    if (!created.IsOk())
        return created;
    SocketLength nLocal = sizeof m_local;
    if (bind(m_hSocket, reinterpret_cast<const sockaddr*>(&m_local), nLength) != 0 ||
        getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&m_local), &nLocal) != 0)
        return LastError(strWhere);
    PrepareBatch();
    return CStatus();
}

std::string CReceiveSocket::LocalText() const
{
    return CTargetAddress::AddressText(m_local);
}

CStatus CReceiveSocket::LastError(const std::string& strWhat)
{
    const int nError = CSocketLibrary::LastError();
    return CStatus::Error(strWhat + ": " + CSocketLibrary::ErrorText(nError), nError);
}
