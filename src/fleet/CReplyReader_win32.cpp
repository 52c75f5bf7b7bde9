#include "fleet/CReplyReader.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/CThreadStarter.h"
#include "fleet/CDeviceSockets.h"
#include "fleet/CSystemFleetClock.h"
#include "net/CSocketLibrary.h"

namespace {

// Datagrams read from one socket before the others get their turn.
constexpr int kReadsPerTurn = 64;
// How often the thread looks at the stop flag when no wake-up reaches it.
constexpr int kStopCheckMs = 100;

}  // namespace

// WSAPoll over every device socket and a loopback socket of the reader's own
// that Stop sends a datagram to: no limit of 64 handles, one pass over the
// sockets per wake-up.
struct CReplyReader::Waiter {
    SOCKET hWake = INVALID_SOCKET;
    sockaddr_in wakeAddress{};
    std::vector<char> buffer = std::vector<char>(65536);
    std::atomic<bool> bStop{false};
    std::unique_ptr<std::thread> pThread;

    ~Waiter()
    {
        if (hWake != INVALID_SOCKET)
            closesocket(hWake);
    }
};

CReplyReader::CReplyReader(const CDeviceSockets& sockets, OnReply onReply)
    : m_sockets(sockets), m_onReply(std::move(onReply)), m_pWaiter(std::make_unique<Waiter>())
{
}

CReplyReader::~CReplyReader()
{
    Stop();
}

CStatus CReplyReader::Start()
{
    Waiter& waiter = *m_pWaiter;
    waiter.hWake = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    waiter.wakeAddress.sin_family = AF_INET;
    waiter.wakeAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int nLength = sizeof waiter.wakeAddress;
    if (waiter.hWake == INVALID_SOCKET ||
        bind(waiter.hWake, reinterpret_cast<const sockaddr*>(&waiter.wakeAddress), sizeof waiter.wakeAddress) != 0 ||
        getsockname(waiter.hWake, reinterpret_cast<sockaddr*>(&waiter.wakeAddress), &nLength) != 0) {
        const int nError = WSAGetLastError();
        return CStatus::Error("cannot watch the device sockets: " + CSocketLibrary::ErrorText(nError), nError);
    }
    const CStatus started = CThreadStarter::Start([this] { Run(); }, waiter.pThread);
    if (!started.IsOk())
        return CStatus::Error("cannot start the reply reader: " + started.Message(), started.Code());
    return CStatus();
}

void CReplyReader::Stop()
{
    Waiter& waiter = *m_pWaiter;
    if (!waiter.pThread)
        return;
    // The flag ends the thread at its next look even when the wake-up is
    // lost; the wake-up only makes that look come at once.
    waiter.bStop.store(true);
    sendto(waiter.hWake, "", 0, 0, reinterpret_cast<const sockaddr*>(&waiter.wakeAddress), sizeof waiter.wakeAddress);
    waiter.pThread->join();
    waiter.pThread.reset();
}

void CReplyReader::Run()
{
    Waiter& waiter = *m_pWaiter;
    const size_t nSockets = m_sockets.Size();
    std::vector<WSAPOLLFD> polled(nSockets + 1);
    for (size_t j = 0; j < nSockets; ++j)
        polled[j].fd = m_sockets.Handle(static_cast<uint32_t>(j));
    polled[nSockets].fd = waiter.hWake;
    while (!waiter.bStop.load()) {
        for (WSAPOLLFD& entry : polled)
            entry.events = POLLRDNORM;
        const int n = WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), kStopCheckMs);
        if (n == SOCKET_ERROR)
            return;
        if (polled[nSockets].revents != 0)
            return;
        for (size_t j = 0; j < nSockets && n > 0; ++j) {
            if (polled[j].revents != 0)
                Drain(static_cast<uint32_t>(j));
        }
    }
}

void CReplyReader::Drain(uint32_t nDevice)
{
    char* const pBuffer = m_pWaiter->buffer.data();
    const size_t nSize = m_pWaiter->buffer.size();
    for (int i = 0; i < kReadsPerTurn; ++i) {
        sockaddr_storage from{};
        int nFrom = sizeof from;
        const int nRead = recvfrom(m_sockets.Handle(nDevice), pBuffer, static_cast<int>(nSize), 0,
                                   reinterpret_cast<sockaddr*>(&from), &nFrom);
        if (nRead < 0)
            return;
        m_onReply(Reply{nDevice, from, pBuffer, static_cast<size_t>(nRead), CSystemFleetClock::CalendarNs()});
    }
}
