#include "net/CUDPSocket.h"

#include "net/CProtocolHandler.h"
#include "net/CSocketLibrary.h"

CUDPSocket::CUDPSocket() = default;

// The thread is stopped here, while the whole endpoint still exists: by the
// time the base destructor runs, this part (OnRead, the handler pointer) is
// gone, and a handler call then would meet a half-destroyed object.
CUDPSocket::~CUDPSocket()
{
    Close();
}

int CUDPSocket::Create(uint16_t nPort)
{
    return Open(nPort).IsOk() ? 1 : 0;
}

CStatus CUDPSocket::Open(uint16_t nPort, int nFamily)
{
    Close();
    m_hSocket = socket(nFamily, SOCK_DGRAM | kSocketCloseOnExec, 0);
    if (m_hSocket == kInvalidSocket || AttachSocket(m_hSocket, kEventRead) == 0)
        return LastErrorStatus();
    sockaddr_storage addr{};
    SocketLength nLength = sizeof(sockaddr_in);
    if (nFamily == AF_INET6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(addr);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(nPort);
        v6.sin6_addr = in6addr_any;
        nLength = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(addr);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(nPort);
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (bind(m_hSocket, reinterpret_cast<const sockaddr*>(&addr), nLength) != 0) {
        const int nError = CSocketLibrary::LastError();
        Close();
        CSocketLibrary::SetLastError(nError);
        return LastErrorStatus();
    }
    const int nSize = kBufferSize;
    setsockopt(m_hSocket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&nSize), sizeof nSize);
    setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&nSize), sizeof nSize);
    m_addrLocal = addr;
    return CStatus();
}

CStatus CUDPSocket::SetBroadcast(bool bOn)
{
    const int nOn = bOn ? 1 : 0;
    if (setsockopt(m_hSocket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&nOn), sizeof nOn) != 0)
        return LastErrorStatus();
    return CStatus();
}

CStatus CUDPSocket::LastErrorStatus()
{
    const int nError = CSocketLibrary::LastError();
    CStatus status = CStatus::Error(CSocketLibrary::ErrorText(nError), nError);
    // Finding the words may set the last error (FormatMessage on Windows).
    CSocketLibrary::SetLastError(nError);
    return status;
}

void CUDPSocket::OnRead(int)
{
    char area[kReceiveArea];
    sockaddr_storage from{};
    SocketLength nFromLen = sizeof from;
    const auto n = recvfrom(m_hSocket, area, sizeof area, 0, reinterpret_cast<sockaddr*>(&from), &nFromLen);
    if (n > 0)
        m_pHandler->OnPacket(area, static_cast<int>(n), reinterpret_cast<const sockaddr*>(&from), 0);
}

uint16_t CUDPSocket::LocalPort() const
{
    if (m_hSocket == kInvalidSocket)
        return 0;
    sockaddr_storage addr{};
    SocketLength nLen = sizeof addr;
    if (getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0)
        return 0;
    // The port sits at the same place in both families' addresses.
    return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
}
