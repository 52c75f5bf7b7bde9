#include "fleet/CReplyReader.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "base/CThreadStarter.h"
#include "fleet/CDeviceSockets.h"
#include "fleet/CSystemFleetClock.h"

namespace {

const char kCannotWatch[] = "cannot watch the device sockets";
constexpr uint32_t kStopToken = UINT32_MAX;
// Datagrams read from one socket before the others get their turn, in
// batches of kBatch.
constexpr int kReadsPerTurn = 64;
constexpr unsigned kBatch = 8;
constexpr size_t kLargestDatagram = 65536;
// How often the thread looks at the stop flag when no wake-up reaches it.
constexpr int kStopCheckMs = 100;

}  // namespace

// epoll over every device socket and an eventfd that Stop writes to; the
// buffers of a batch of datagrams.
struct CReplyReader::Waiter {
    int hEpoll = -1;
    int hStop = -1;
    std::vector<char> buffers = std::vector<char>(kBatch * kLargestDatagram);
    sockaddr_storage from[kBatch]{};
    iovec data[kBatch]{};
    alignas(cmsghdr) char control[kBatch][CMSG_SPACE(sizeof(timespec))]{};
    mmsghdr messages[kBatch]{};
    std::atomic<bool> bStop{false};
    std::atomic<int64_t> nReadUpToNs{0};
    std::unique_ptr<std::thread> pThread;

    ~Waiter()
    {
        if (hEpoll >= 0)
            close(hEpoll);
        if (hStop >= 0)
            close(hStop);
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
    waiter.hEpoll = epoll_create1(EPOLL_CLOEXEC);
    waiter.hStop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (waiter.hEpoll < 0 || waiter.hStop < 0)
        return CStatus::FromErrno(kCannotWatch, errno);
    epoll_event event{};
    event.events = EPOLLIN;
    const int nOn = 1;
    for (uint32_t j = 0; j < m_sockets.Size(); ++j)
        setsockopt(m_sockets.Handle(j), SOL_SOCKET, SO_TIMESTAMPNS, &nOn, sizeof nOn);
    for (uint32_t j = 0; j <= m_sockets.Size(); ++j) {
        const bool bStop = j == m_sockets.Size();
        event.data.u32 = bStop ? kStopToken : j;
        if (epoll_ctl(waiter.hEpoll, EPOLL_CTL_ADD, bStop ? waiter.hStop : m_sockets.Handle(j), &event) != 0)
            return CStatus::FromErrno(kCannotWatch, errno);
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
    const timespec grain{0, m_nGrainMs * 1000000L};
    while (!waiter.bStop.load()) {
        // What arrived before the wait is among the sockets it reports.
        const int64_t nBeforeNs = CSystemFleetClock::CalendarNs();
        const int n = epoll_wait(waiter.hEpoll, events.data(), static_cast<int>(events.size()), kStopCheckMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        const int64_t nWokeNs = n > 0 ? CSystemFleetClock::CalendarNs() : 0;
        for (int i = 0; i < n; ++i) {
            if (events[static_cast<size_t>(i)].data.u32 == kStopToken)
                return;
            Drain(events[static_cast<size_t>(i)].data.u32, nWokeNs);
        }
        if (n < static_cast<int>(events.size()))
            waiter.nReadUpToNs.store(nBeforeNs);
        // Replies that come meanwhile wait in their sockets for the next
        // wake-up, their arrival already stamped.
        if (n > 0 && n < static_cast<int>(events.size()))
            nanosleep(&grain, nullptr);
    }
}

int64_t CReplyReader::ReadUpToNs() const
{
    return m_pWaiter->nReadUpToNs.load();
}

void CReplyReader::Drain(uint32_t nDevice, int64_t nWokeNs)
{
    Waiter& waiter = *m_pWaiter;
    for (int nRead = 0; nRead < kReadsPerTurn;) {
        for (unsigned i = 0; i < kBatch; ++i) {
            waiter.data[i] = {&waiter.buffers[i * kLargestDatagram], kLargestDatagram};
            msghdr& message = waiter.messages[i].msg_hdr;
            message = msghdr{};
            message.msg_name = &waiter.from[i];
            message.msg_namelen = sizeof waiter.from[i];
            message.msg_iov = &waiter.data[i];
            message.msg_iovlen = 1;
            message.msg_control = waiter.control[i];
            message.msg_controllen = sizeof waiter.control[i];
        }
        const int nGot = recvmmsg(m_sockets.Handle(nDevice), waiter.messages, kBatch, MSG_DONTWAIT, nullptr);
        if (nGot <= 0)
            return;
        for (int i = 0; i < nGot; ++i) {
            msghdr& message = waiter.messages[i].msg_hdr;
            int64_t nArrivalNs = nWokeNs;
            for (cmsghdr* pHeader = CMSG_FIRSTHDR(&message); pHeader != nullptr;
                 pHeader = CMSG_NXTHDR(&message, pHeader)) {
                if (pHeader->cmsg_level == SOL_SOCKET && pHeader->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp{};
                    std::memcpy(&stamp, CMSG_DATA(pHeader), sizeof stamp);
                    nArrivalNs = static_cast<int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
                }
            }
            m_onReply(Reply{nDevice, waiter.from[i], static_cast<const char*>(waiter.data[i].iov_base),
                            waiter.messages[i].msg_len, nArrivalNs});
        }
        // Fewer than a batch: the socket has nothing more now.
        if (nGot < static_cast<int>(kBatch))
            return;
        nRead += nGot;
    }
}
