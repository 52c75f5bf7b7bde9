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

// The completion key of Stop's wake-up; the sockets' is 0.
constexpr ULONG_PTR kStopKey = 1;
// Bytes kept of a reply; a longer one is cut to them (WSAEMSGSIZE).
constexpr ULONG kReplyBytes = 2048;
// Completions taken in one wait.
constexpr ULONG kBatch = 64;
// How often the thread looks at the stop flag when no wake-up reaches it.
constexpr DWORD kStopCheckMs = 100;
// How long Stop waits for the cancelled receives to come back.
constexpr DWORD kCancelWaitMs = 5000;

}  // namespace

// An I/O completion port over every device socket, each with one receive
// posted into a buffer of its own: the thread sleeps on the port and wakes
// with the replies that came, without a pass over the sockets, so a reply
// is stamped when its receive completes, however many sockets there are.
struct CReplyReader::Waiter {
    struct Receive {
        OVERLAPPED overlapped{};
        sockaddr_storage from{};
        INT nFrom = 0;
        DWORD nFlags = 0;
    };

    HANDLE hPort = nullptr;
    std::vector<Receive> receives;
    std::vector<char> buffers;
    // Receives posted and not yet come back.
    size_t nPosted = 0;
    std::atomic<bool> bStop{false};
    std::atomic<int64_t> nReadUpToNs{0};
    std::unique_ptr<std::thread> pThread;

    // Posts device j's receive; false when the socket refuses it.
    bool Post(SOCKET hSocket, uint32_t j)
    {
        Receive& receive = receives[j];
        receive.overlapped = OVERLAPPED{};
        receive.nFrom = sizeof receive.from;
        receive.nFlags = 0;
        WSABUF buffer{kReplyBytes, &buffers[static_cast<size_t>(j) * kReplyBytes]};
        // Done at once or pending, it comes back through the port.
        if (WSARecvFrom(hSocket, &buffer, 1, nullptr, &receive.nFlags, reinterpret_cast<sockaddr*>(&receive.from),
                        &receive.nFrom, &receive.overlapped, nullptr) != 0 &&
            WSAGetLastError() != WSA_IO_PENDING)
            return false;
        ++nPosted;
        return true;
    }

    ~Waiter()
    {
        if (hPort != nullptr)
            CloseHandle(hPort);
    }
};

CReplyReader::CReplyReader(const CDeviceSockets& sockets, OnReply onReply, int nGrainMs)
    : m_sockets(sockets), m_onReply(std::move(onReply)), m_nGrainMs(nGrainMs), m_pWaiter(std::make_unique<Waiter>())
{
}

CReplyReader::~CReplyReader()
{
    Stop();
}

CStatus CReplyReader::Start()
{
    Waiter& waiter = *m_pWaiter;
    const uint32_t nSockets = static_cast<uint32_t>(m_sockets.Size());
    waiter.receives.resize(nSockets);
    waiter.buffers.resize(static_cast<size_t>(nSockets) * kReplyBytes);
    waiter.hPort = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    bool bWatched = waiter.hPort != nullptr;
    for (uint32_t j = 0; j < nSockets && bWatched; ++j) {
        const SOCKET hSocket = m_sockets.Handle(j);
        bWatched = CreateIoCompletionPort(reinterpret_cast<HANDLE>(hSocket), waiter.hPort, 0, 0) != nullptr &&
                   waiter.Post(hSocket, j);
    }
    if (!bWatched) {
        const DWORD nError = GetLastError();
        Stop();
        return CStatus::Error("cannot watch the device sockets: " + CSocketLibrary::ErrorText(static_cast<int>(nError)),
                              static_cast<int>(nError));
    }
    const CStatus started = CThreadStarter::Start([this] { Run(); }, waiter.pThread);
    if (!started.IsOk()) {
        Stop();
        return CStatus::Error("cannot start the reply reader: " + started.Message(), started.Code());
    }
    return CStatus();
}

void CReplyReader::Stop()
{
    Waiter& waiter = *m_pWaiter;
    if (waiter.pThread) {
        // The flag ends the thread at its next look even when the wake-up
        // is lost; the wake-up only makes that look come at once.
        waiter.bStop.store(true);
        PostQueuedCompletionStatus(waiter.hPort, 0, kStopKey, nullptr);
        waiter.pThread->join();
        waiter.pThread.reset();
    }
    if (waiter.nPosted == 0)
        return;
    // The buffers are the system's until their receives come back.
    for (uint32_t j = 0; j < waiter.receives.size(); ++j)
        CancelIoEx(reinterpret_cast<HANDLE>(m_sockets.Handle(j)), nullptr);
    OVERLAPPED_ENTRY entries[kBatch];
    ULONG nTaken = 0;
    while (waiter.nPosted > 0 &&
           GetQueuedCompletionStatusEx(waiter.hPort, entries, kBatch, &nTaken, kCancelWaitMs, FALSE)) {
        for (ULONG i = 0; i < nTaken; ++i) {
            if (entries[i].lpOverlapped != nullptr)
                --waiter.nPosted;
        }
    }
}

void CReplyReader::Run()
{
    Waiter& waiter = *m_pWaiter;
    OVERLAPPED_ENTRY entries[kBatch];
    while (!waiter.bStop.load()) {
        // What completed before the wait is among what it takes.
        const int64_t nBeforeNs = CSystemFleetClock::CalendarNs();
        ULONG nTaken = 0;
        if (!GetQueuedCompletionStatusEx(waiter.hPort, entries, kBatch, &nTaken, kStopCheckMs, FALSE)) {
            if (GetLastError() != WAIT_TIMEOUT)
                return;
            waiter.nReadUpToNs.store(nBeforeNs);
            continue;
        }
        // The batch came together: one reading of the clock for all of it.
        const int64_t nWokeNs = CSystemFleetClock::CalendarNs();
        for (ULONG i = 0; i < nTaken; ++i) {
            if (entries[i].lpCompletionKey == kStopKey)
                return;
            Waiter::Receive* pReceive = CONTAINING_RECORD(entries[i].lpOverlapped, Waiter::Receive, overlapped);
            const uint32_t j = static_cast<uint32_t>(pReceive - waiter.receives.data());
            --waiter.nPosted;
            Drain(j, nWokeNs);
        }
        if (nTaken < kBatch)
            waiter.nReadUpToNs.store(nBeforeNs);
    }
}

int64_t CReplyReader::ReadUpToNs() const
{
    return m_pWaiter->nReadUpToNs.load();
}

void CReplyReader::Drain(uint32_t nDevice, int64_t nWokeNs)
{
    Waiter& waiter = *m_pWaiter;
    Waiter::Receive& receive = waiter.receives[nDevice];
    const SOCKET hSocket = m_sockets.Handle(nDevice);
    DWORD nBytes = 0;
    DWORD nFlags = 0;
    const bool bDone = WSAGetOverlappedResult(hSocket, &receive.overlapped, &nBytes, FALSE, &nFlags) != FALSE;
    const int nError = bDone ? 0 : WSAGetLastError();
    // Cancelled: the run is ending, and the socket gets no new receive.
    if (nError == WSA_OPERATION_ABORTED)
        return;
    if (bDone || nError == WSAEMSGSIZE)
        m_onReply(Reply{nDevice, receive.from, &waiter.buffers[static_cast<size_t>(nDevice) * kReplyBytes], nBytes,
                        nWokeNs});
    waiter.Post(hSocket, nDevice);
}
