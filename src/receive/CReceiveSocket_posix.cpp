#include "receive/CReceiveSocket.h"

#include <linux/sock_diag.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"

namespace {

// A timestamp and a drop counter fit with room to spare.
constexpr size_t kControlBytes = 128;

int64_t UnixNsNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

// recvmmsg's headers for one batch, and the last drop count the kernel gave
// with a datagram.
struct CReceiveSocket::Platform {
    mmsghdr headers[kBatch]{};
    iovec vectors[kBatch]{};
    alignas(cmsghdr) char control[kBatch][kControlBytes]{};
    std::atomic<uint32_t> nOverflows{0};
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
    return true;
}

CStatus CReceiveSocket::Create(int nFamily, const std::string& strWhere)
{
    m_hSocket = socket(nFamily, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_hSocket < 0)
        return LastError(strWhere);
    // Beyond net.core.rmem_max only with CAP_NET_ADMIN; otherwise as much of
    // it as that allows.
    const int nWanted = kWantedBufferBytes;
    if (setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUFFORCE, &nWanted, sizeof nWanted) != 0)
        setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &nWanted, sizeof nWanted);
    const int nOn = 1;
    setsockopt(m_hSocket, SOL_SOCKET, SO_TIMESTAMPNS, &nOn, sizeof nOn);
    setsockopt(m_hSocket, SOL_SOCKET, SO_RXQ_OVFL, &nOn, sizeof nOn);
    socklen_t nSize = sizeof m_nBufferBytes;
    getsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, &m_nBufferBytes, &nSize);
    return CStatus();
}

void CReceiveSocket::PrepareBatch()
{
    Platform& platform = *m_pPlatform;
    for (size_t i = 0; i < kBatch; ++i) {
        platform.vectors[i].iov_base = m_buffer.data() + i * m_nSlot;
        platform.vectors[i].iov_len = 65536;
        msghdr& header = platform.headers[i].msg_hdr;
        header.msg_name = &m_datagrams[i].from;
        header.msg_iov = &platform.vectors[i];
        header.msg_iovlen = 1;
        header.msg_control = platform.control[i];
    }
}

size_t CReceiveSocket::Read(int64_t nTimeoutNs)
{
    Platform& platform = *m_pPlatform;
    for (size_t i = 0; i < kBatch; ++i) {
        platform.headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
        platform.headers[i].msg_hdr.msg_controllen = kControlBytes;
    }
    int nRead = recvmmsg(m_hSocket, platform.headers, kBatch, MSG_DONTWAIT, nullptr);
    if (nRead <= 0 && nTimeoutNs > 0) {
        pollfd watched{m_hSocket, POLLIN, 0};
        const timespec timeout{static_cast<time_t>(nTimeoutNs / 1000000000), static_cast<long>(nTimeoutNs % 1000000000)};
        if (ppoll(&watched, 1, &timeout, nullptr) > 0)
            nRead = recvmmsg(m_hSocket, platform.headers, kBatch, MSG_DONTWAIT, nullptr);
    }
    if (nRead <= 0)
        return 0;
    const int64_t nNowNs = UnixNsNow();
    for (size_t i = 0; i < static_cast<size_t>(nRead); ++i) {
        Datagram& datagram = m_datagrams[i];
        msghdr& header = platform.headers[i].msg_hdr;
        datagram.pData = m_buffer.data() + i * m_nSlot;
        datagram.nLength = platform.headers[i].msg_len;
        datagram.nArrivalUnixNs = nNowNs;
        for (cmsghdr* pControl = CMSG_FIRSTHDR(&header); pControl != nullptr;
             pControl = CMSG_NXTHDR(&header, pControl)) {
            if (pControl->cmsg_level != SOL_SOCKET)
                continue;
            if (pControl->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(pControl), sizeof stamp);
                datagram.nArrivalUnixNs = static_cast<int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
            } else if (pControl->cmsg_type == SO_RXQ_OVFL) {
                uint32_t nDrops = 0;
                std::memcpy(&nDrops, CMSG_DATA(pControl), sizeof nDrops);
                platform.nOverflows.store(nDrops, std::memory_order_relaxed);
            }
        }
    }
    return static_cast<size_t>(nRead);
}

uint64_t CReceiveSocket::Drops() const
{
    // The counter comes with a datagram only; drops after the last one are
    // read from the socket itself.
    uint64_t nDrops = m_pPlatform->nOverflows.load(std::memory_order_relaxed);
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t nSize = sizeof info;
    if (m_hSocket != kSocketInvalid && getsockopt(m_hSocket, SOL_SOCKET, SO_MEMINFO, info, &nSize) == 0 &&
        nSize > SK_MEMINFO_DROPS * sizeof(uint32_t) && info[SK_MEMINFO_DROPS] > nDrops)
        nDrops = info[SK_MEMINFO_DROPS];
    return nDrops;
}

CStatus CReceiveSocket::Send(const sockaddr_storage& to, const char* pData, size_t nLength)
{
    if (sendto(m_hSocket, pData, nLength, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
               CTargetAddress::LengthOf(to)) < 0)
        return LastError("cannot answer " + CTargetAddress::AddressText(to));
    return CStatus();
}
