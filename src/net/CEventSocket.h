#pragma once

#include <atomic>
#include <cstdint>

#include "net/SocketTypes.h"

// One socket whose network events are delivered to virtual handlers on a
// thread owned by the object (the network-event thread). The thread waits for
// the socket's events and a stop event (Windows Sockets event selection, or
// poll() with a stop eventfd on POSIX); per pass it dispatches accept,
// connect, write, read and out-of-band, in that order, then close, which ends
// the thread. A pending stop request wins over a ready socket.
//
// Handles and the thread are owned by the object. Close() and the destructor
// must be called from a thread other than the network-event thread; they wait
// at most kStopTimeoutMs for it and then end it by force (POSIX cancels it and
// unwinds its stack; Windows terminates it and waits until it has ended), and
// close the socket either way. A derived class that overrides handlers calls
// Close() in its own destructor, so that the thread has ended before its part
// of the object is destroyed. Operations that can fail return 1/0 and leave
// the reason in CSocketLibrary::LastError().
class CEventSocket {
public:
    static constexpr SocketHandle kInvalidSocket = kSocketInvalid;
    static constexpr int kStopTimeoutMs = 2000;

    // Event bits, with the values of the Windows Sockets event mask.
    static constexpr uint32_t kEventRead = 0x01;
    static constexpr uint32_t kEventWrite = 0x02;
    static constexpr uint32_t kEventOutOfBand = 0x04;
    static constexpr uint32_t kEventAccept = 0x08;
    static constexpr uint32_t kEventConnect = 0x10;
    static constexpr uint32_t kEventClose = 0x20;

    CEventSocket();
    virtual ~CEventSocket();
    CEventSocket(const CEventSocket&) = delete;
    CEventSocket& operator=(const CEventSocket&) = delete;

    // Stops the thread and closes the socket; nothing when no socket is held.
    virtual void Close();
    virtual int AcceptHandle(SocketHandle* pOut, sockaddr* pAddr, SocketLength* pAddrLen);
    // Accepts into pPeer (closing what it held), tied to no events.
    virtual int AcceptInto(CEventSocket* pPeer, sockaddr* pAddr, SocketLength* pAddrLen);
    // send/recv on the socket, results unchanged. A send that would block
    // re-arms the write event.
    virtual ssize_t Send(const void* pBuf, int nLen, int nFlags);
    virtual ssize_t Receive(void* pBuf, int nLen, int nFlags);

    // Handlers, called on the network-event thread only, with the event's
    // error code (0 when it came without one); OnError gets the last socket
    // error.
    virtual void OnRead(int nError);
    virtual void OnWrite(int nError);
    virtual void OnOutOfBand(int nError);
    virtual void OnError(int nError);
    virtual void OnAccept(int nError);
    virtual void OnConnect(int nError);
    virtual void OnClose(int nError);

    // Stores s, makes it non-blocking, selects the events and starts the
    // thread. On failure answers 0 and keeps s (a later Close closes it).
    // The caller has closed any earlier socket first.
    int AttachSocket(SocketHandle s, uint32_t nEvents);

    SocketHandle Handle() const { return m_hSocket; }
    bool HasThread() const { return m_bThread; }

protected:
    // Calls the handlers of the reported events in dispatch order; nErrors is
    // indexed like the Windows Sockets record (read 0, write 1, out-of-band 2,
    // accept 3, connect 4, close 5). True when the thread must end.
    bool DispatchEvents(uint32_t nEvents, const int nErrors[6]);

    SocketHandle m_hSocket = kInvalidSocket;

private:
    static ThreadResult NetworkEventThread(void* pParam);
    void RunEvents();
    // Steps of Close after the idle test; also run by the destructor.
    void Shutdown();
    void StopThread();

    ThreadHandle m_hThread{};
    bool m_bThread = false;
    // [0] the stop event (manual reset); [1] Windows: the network event tied
    // to the socket; POSIX: a wake-up that makes the thread look at the event
    // mask again (a re-armed write event).
    EventHandle m_hEvents[2]{};
    // POSIX only: what the readiness polling needs to report events the way
    // Windows Sockets does.
    std::atomic<uint32_t> m_nEventMask{0};
    std::atomic<bool> m_bWriteArmed{false};
    bool m_bConnectSeen = false;
};
