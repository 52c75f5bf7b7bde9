#include "net/CEventSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

void SignalEvent(int fd)
{
    const uint64_t one = 1;
    ssize_t n;
    do {
        n = write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

void ResetEvent(int fd)
{
    uint64_t value;
    while (read(fd, &value, sizeof value) > 0) {
    }
}

int ErrorOfSocket(int s)
{
    int nError = 0;
    socklen_t nLen = sizeof nError;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &nError, &nLen) != 0)
        return errno;
    return nError;
}

// The readiness to poll for: what the selected events need.
short WantedEvents(uint32_t nMask, bool bWriteArmed, bool bConnectSeen)
{
    short nWanted = 0;
    if (nMask & (CEventSocket::kEventRead | CEventSocket::kEventAccept))
        nWanted |= POLLIN;
    if (nMask & CEventSocket::kEventOutOfBand)
        nWanted |= POLLPRI;
    if (nMask & CEventSocket::kEventClose)
        nWanted |= POLLRDHUP;
    if (((nMask & CEventSocket::kEventWrite) && bWriteArmed) || ((nMask & CEventSocket::kEventConnect) && !bConnectSeen))
        nWanted |= POLLOUT;
    return nWanted;
}

// What poll reports, read as the Windows Sockets event record; a connect
// and a write are reported once (bConnected, bWriteTaken say so).
struct Reported {
    uint32_t nEvents = 0;
    int nErrors[6] = {0, 0, 0, 0, 0, 0};
    bool bConnected = false;
    bool bWriteTaken = false;
};

Reported Translate(short nGot, uint32_t nMask, bool bWriteArmed, bool bConnectSeen, SocketHandle hSocket)
{
    Reported reported;
    const int nSocketError = (nGot & POLLERR) ? ErrorOfSocket(hSocket) : 0;
    if (nGot & (POLLIN | POLLERR | POLLHUP)) {
        int nListening = 0;
        socklen_t nLen = sizeof nListening;
        if ((nMask & CEventSocket::kEventAccept) &&
            getsockopt(hSocket, SOL_SOCKET, SO_ACCEPTCONN, &nListening, &nLen) == 0 && nListening) {
            reported.nEvents |= CEventSocket::kEventAccept;
            reported.nErrors[3] = nSocketError;
        } else if (nMask & CEventSocket::kEventRead) {
            reported.nEvents |= CEventSocket::kEventRead;
            reported.nErrors[0] = nSocketError;
        }
    }
    if (nGot & (POLLOUT | POLLERR | POLLHUP)) {
        if ((nMask & CEventSocket::kEventConnect) && !bConnectSeen) {
            reported.bConnected = true;
            reported.nEvents |= CEventSocket::kEventConnect;
            reported.nErrors[4] = nSocketError;
        }
        if ((nMask & CEventSocket::kEventWrite) && bWriteArmed) {
            // Like the Windows event, write readiness is reported once and
            // again only after a send would have blocked.
            reported.bWriteTaken = true;
            reported.nEvents |= CEventSocket::kEventWrite;
            reported.nErrors[1] = nSocketError;
        }
    }
    if ((nGot & POLLPRI) && (nMask & CEventSocket::kEventOutOfBand))
        reported.nEvents |= CEventSocket::kEventOutOfBand;
    if ((nGot & (POLLRDHUP | POLLHUP)) && (nMask & CEventSocket::kEventClose)) {
        reported.nEvents |= CEventSocket::kEventClose;
        reported.nErrors[5] = nSocketError;
    }
    return reported;
}

}  // namespace

CEventSocket::CEventSocket()
{
    m_hEvents[0] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_hEvents[1] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CEventSocket::~CEventSocket()
{
    if (m_hSocket != kInvalidSocket)
        Shutdown();
    for (int& hEvent : m_hEvents) {
        if (hEvent >= 0)
            close(hEvent);
        hEvent = -1;
    }
}

void CEventSocket::Shutdown()
{
    StopThread();
    m_nEventMask.store(0);
    linger noLinger{};
    setsockopt(m_hSocket, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    close(m_hSocket);
    m_hSocket = kInvalidSocket;
}

void CEventSocket::StopThread()
{
    if (!m_bThread)
        return;
    SignalEvent(m_hEvents[0]);
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += kStopTimeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(kStopTimeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(m_hThread, nullptr, &deadline) != 0) {
        // A handler is stuck: cancel the thread at its next cancellation
        // point (blocking calls are such points), which unwinds its stack.
        pthread_cancel(m_hThread);
        pthread_join(m_hThread, nullptr);
    }
    m_bThread = false;
}

int CEventSocket::AttachSocket(SocketHandle s, uint32_t nEvents)
{
    m_hSocket = s;
    const int nFlags = fcntl(s, F_GETFL);
    if (nFlags < 0 || fcntl(s, F_SETFL, nFlags | O_NONBLOCK) < 0)
        return 0;
    m_nEventMask.store(nEvents);
    m_bWriteArmed.store(true);
    m_bConnectSeen = false;
    ResetEvent(m_hEvents[0]);
    ResetEvent(m_hEvents[1]);
    const int nError = pthread_create(&m_hThread, nullptr, &CEventSocket::NetworkEventThread, this);
    if (nError != 0) {
        errno = nError;
        return 0;
    }
    m_bThread = true;
    return 1;
}

ThreadResult CEventSocket::NetworkEventThread(void* pParam)
{
    static_cast<CEventSocket*>(pParam)->RunEvents();
    return nullptr;
}

void CEventSocket::RunEvents()
{
    for (;;) {
        const uint32_t nMask = m_nEventMask.load();
        const bool bWriteArmed = m_bWriteArmed.load();
        pollfd fds[3] = {{m_hEvents[0], POLLIN, 0},
                         {m_hEvents[1], POLLIN, 0},
                         {nMask != 0 ? m_hSocket : -1, WantedEvents(nMask, bWriteArmed, m_bConnectSeen), 0}};
        const int nReady = poll(fds, 3, -1);
        if (nReady < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents != 0) {
            ResetEvent(m_hEvents[1]);
            continue;
        }
        const short nGot = fds[2].revents;
        if (nGot == 0)
            continue;
        if (nGot & POLLNVAL) {
            OnError(EBADF);
            return;
        }
        const Reported reported = Translate(nGot, nMask, bWriteArmed, m_bConnectSeen, m_hSocket);
        m_bConnectSeen = m_bConnectSeen || reported.bConnected;
        if (reported.bWriteTaken)
            m_bWriteArmed.store(false);
        if (reported.nEvents == 0) {
            // Readiness nobody asked for. A pending error was read (and so
            // cleared) above; a hang-up would be reported forever, so the
            // thread ends as after a close.
            if (nGot & POLLHUP)
                return;
            continue;
        }
        if (DispatchEvents(reported.nEvents, reported.nErrors))
            return;
    }
}

ssize_t CEventSocket::Send(const void* pBuf, int nLen, int nFlags)
{
    const ssize_t n = send(m_hSocket, pBuf, static_cast<size_t>(nLen), nFlags | MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        const int nSaved = errno;
        m_bWriteArmed.store(true);
        SignalEvent(m_hEvents[1]);
        errno = nSaved;
    }
    return n;
}
