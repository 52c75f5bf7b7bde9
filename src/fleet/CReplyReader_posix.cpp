#include "fleet/CReplyReader.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "base/CThreadStarter.h"
#include "fleet/CDeviceSockets.h"

namespace {

const char kCannotWatch[] = "cannot watch the device sockets";
constexpr uint32_t kStopToken = UINT32_MAX;
// Datagrams read from one socket before the others get their turn.
constexpr int kReadsPerTurn = 64;
// How often the thread looks at the stop flag when no wake-up reaches it.
constexpr int kStopCheckMs = 100;

}  // namespace

// epoll over every device socket and an eventfd that Stop writes to.
struct CReplyReader::Waiter {
    int hEpoll = -1;
    int hStop = -1;
    std::atomic<bool> bStop{false};
    std::unique_ptr<std::thread> pThread;

    ~Waiter()
    {
        if (hEpoll >= 0)
            close(hEpoll);
        if (hStop >= 0)
            close(hStop);
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
    waiter.hEpoll = epoll_create1(EPOLL_CLOEXEC);
    waiter.hStop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (waiter.hEpoll < 0 || waiter.hStop < 0)
        return CStatus::FromErrno(kCannotWatch, errno);
    epoll_event event{};
    event.events = EPOLLIN;
    for (uint32_t j = 0; j <= m_sockets.Size(); ++j) {
        const bool bStop = j == m_sockets.Size();
        event.data.u32 = bStop ? kStopToken : j;
        if (epoll_ctl(waiter.hEpoll, EPOLL_CTL_ADD, bStop ? waiter.hStop : m_sockets.Handle(j), &event) != 0)
            return CStatus::FromErrno(kCannotWatch, errno);
    }
    std::string strError;
    waiter.pThread = CThreadStarter::Start([this] { Run(); }, strError);
    if (!waiter.pThread)
        return CStatus::Error("cannot start the reply reader: " + strError);
    return CStatus();
}

void CReplyReader::Stop()
{
    Waiter& waiter = *m_pWaiter;
    if (!waiter.pThread)
        return;
    // The flag ends the thread at its next look even when the wake-up
    // cannot be written; the wake-up only makes that look come at once.
    waiter.bStop.store(true);
    const uint64_t nOne = 1;
    while (write(waiter.hStop, &nOne, sizeof nOne) < 0 && errno == EINTR) {
    }
    waiter.pThread->join();
    waiter.pThread.reset();
}

void CReplyReader::Run()
{
    Waiter& waiter = *m_pWaiter;
    std::vector<epoll_event> events(256);
    std::vector<char> buffer(65536);
    while (!waiter.bStop.load()) {
        const int n = epoll_wait(waiter.hEpoll, events.data(), static_cast<int>(events.size()), kStopCheckMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < n; ++i) {
            if (events[static_cast<size_t>(i)].data.u32 == kStopToken)
                return;
            Drain(events[static_cast<size_t>(i)].data.u32, buffer.data(), buffer.size());
        }
    }
}

void CReplyReader::Drain(uint32_t nDevice, char* pBuffer, size_t nSize)
{
    for (int i = 0; i < kReadsPerTurn; ++i) {
        sockaddr_storage from{};
        socklen_t nFrom = sizeof from;
        const ssize_t nRead =
            recvfrom(m_sockets.Handle(nDevice), pBuffer, nSize, 0, reinterpret_cast<sockaddr*>(&from), &nFrom);
        if (nRead < 0)
            return;
        m_onReply(Reply{nDevice, from, pBuffer, static_cast<size_t>(nRead)});
    }
}
