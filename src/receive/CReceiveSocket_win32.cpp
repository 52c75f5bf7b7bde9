#include "receive/CReceiveSocket.h"

#include <winsock2.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <chrono>

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"

// Windows reads one datagram a call; nothing more to keep.
struct CReceiveSocket::Platform {
};

CReceiveSocket::CReceiveSocket(size_t nPadding)
    : m_nSlot(65536 + nPadding),
      m_buffer(kBatch * m_nSlot),
      m_datagrams(kBatch),
      m_pPlatform(std::make_unique<Platform>())
{
}

CReceiveSocket::~CReceiveSocket()
{
    if (m_hSocket != kSocketInvalid)
        CSocketLibrary::CloseSocket(m_hSocket);
}

bool CReceiveSocket::TellsDrops()
{
    return false;
}

CStatus CReceiveSocket::Create(int nFamily, const std::string& strWhere)
{
    m_hSocket = WSASocketW(nFamily, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (m_hSocket == INVALID_SOCKET)
        return LastError(strWhere);
    // A port unreachable that answered an answer would otherwise fail the
    // next receive with WSAECONNRESET.
    u_long nNonBlocking = 1;
    BOOL bReportReset = FALSE;
    DWORD nReturned = 0;
    if (ioctlsocket(m_hSocket, FIONBIO, &nNonBlocking) != 0 ||
        WSAIoctl(m_hSocket, SIO_UDP_CONNRESET, &bReportReset, sizeof bReportReset, nullptr, 0, &nReturned, nullptr,
                 nullptr) != 0)
        return LastError(strWhere);
    const int nWanted = kWantedBufferBytes;
    setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&nWanted), sizeof nWanted);
    int nSize = sizeof m_nBufferBytes;
    getsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&m_nBufferBytes), &nSize);
    return CStatus();
}

void CReceiveSocket::PrepareBatch() {}

size_t CReceiveSocket::Read(int64_t nTimeoutNs)
{
    size_t nRead = 0;
    for (int nTry = 0; nTry < 2 && nRead == 0; ++nTry) {
        if (nTry == 1) {
            if (nTimeoutNs <= 0)
                break;
            WSAPOLLFD watched{m_hSocket, POLLRDNORM, 0};
            // Rounded up: a wait of 0 would turn into a busy loop.
            if (WSAPoll(&watched, 1, static_cast<INT>((nTimeoutNs + 999999) / 1000000)) <= 0)
                break;
        }
        while (nRead < kBatch) {
            Datagram& datagram = m_datagrams[nRead];
            int nFrom = sizeof datagram.from;
            char* pSlot = m_buffer.data() + nRead * m_nSlot;
            const int nLength =
                recvfrom(m_hSocket, pSlot, 65536, 0, reinterpret_cast<sockaddr*>(&datagram.from), &nFrom);
            if (nLength < 0)
                break;
            datagram.pData = pSlot;
            datagram.nLength = static_cast<size_t>(nLength);
            datagram.nArrivalUnixNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count();
            ++nRead;
        }
    }
    return nRead;
}

uint64_t CReceiveSocket::Drops() const
{
    return 0;
}

CStatus CReceiveSocket::Send(const sockaddr_storage& to, const char* pData, size_t nLength)
{
    if (sendto(m_hSocket, pData, static_cast<int>(nLength), 0, reinterpret_cast<const sockaddr*>(&to),
               CTargetAddress::LengthOf(to)) < 0)
        return LastError("cannot answer " + CTargetAddress::AddressText(to));
    return CStatus();
}
