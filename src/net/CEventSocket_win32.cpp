#include "net/CEventSocket.h"

// Windows Sockets event selection: the socket's network events set
// m_hEvents[1], and the thread waits on it and on the stop event together.

CEventSocket::CEventSocket()
{
    m_hEvents[0] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hEvents[1] = WSACreateEvent();
}

CEventSocket::~CEventSocket()
{
    if (m_hSocket != kInvalidSocket)
        Shutdown();
    if (m_hEvents[0] != nullptr)
        CloseHandle(m_hEvents[0]);
    if (m_hEvents[1] != nullptr)
        WSACloseEvent(m_hEvents[1]);
}

void CEventSocket::Shutdown()
{
    StopThread();
    WSAEventSelect(m_hSocket, m_hEvents[1], 0);
    const int nDontLinger = 0;
    setsockopt(m_hSocket, SOL_SOCKET, SO_DONTLINGER, reinterpret_cast<const char*>(&nDontLinger),
               sizeof nDontLinger);
    closesocket(m_hSocket);
    m_hSocket = kInvalidSocket;
}

void CEventSocket::StopThread()
{
    if (m_hThread == nullptr)
        return;
    SetEvent(m_hEvents[0]);
    if (WaitForSingleObject(m_hThread, kStopTimeoutMs) != WAIT_OBJECT_0) {
        // A handler is stuck. Termination is asynchronous: wait until the
        // thread is really gone before its socket is closed under it.
        TerminateThread(m_hThread, 0xFFFFFFFF);
        WaitForSingleObject(m_hThread, INFINITE);
    }
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_bThread = false;
}

int CEventSocket::AttachSocket(SocketHandle s, uint32_t nEvents)
{
    m_hSocket = s;
    // The network event is reset before the selection, not after it: the
    // selection itself signals what is pending already (queued data, a
    // close), and a reset afterwards would lose that until the next event.
    WSAResetEvent(m_hEvents[1]);
    if (WSAEventSelect(s, m_hEvents[1], static_cast<long>(nEvents)) == SOCKET_ERROR)
        return 0;
    ResetEvent(m_hEvents[0]);
    m_hThread = CreateThread(nullptr, 0, &CEventSocket::NetworkEventThread, this, 0, nullptr);
    m_bThread = m_hThread != nullptr;
    return m_bThread ? 1 : 0;
}

ThreadResult CEventSocket::NetworkEventThread(void* pParam)
{
    static_cast<CEventSocket*>(pParam)->RunEvents();
    return 0;
}

void CEventSocket::RunEvents()
{
    for (;;) {
        // The stop event has the lower index, so it wins when both are set.
        const DWORD nWait = WSAWaitForMultipleEvents(2, m_hEvents, FALSE, WSA_INFINITE, FALSE);
        if (nWait != WSA_WAIT_EVENT_0 + 1)
            return;
        WSANETWORKEVENTS events{};
        if (WSAEnumNetworkEvents(m_hSocket, m_hEvents[1], &events) == SOCKET_ERROR) {
            OnError(WSAGetLastError());
            return;
        }
        // The record's error codes are indexed by the FD_*_BIT numbers, the
        // order DispatchEvents expects.
        if (DispatchEvents(static_cast<uint32_t>(events.lNetworkEvents), events.iErrorCode))
            return;
    }
}

ssize_t CEventSocket::Send(const void* pBuf, int nLen, int nFlags)
{
    return send(m_hSocket, static_cast<const char*>(pBuf), nLen, nFlags);
}
