#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/CStatus.h"
#include "net/SocketTypes.h"

class CDeviceSockets;

// One thread that reads whatever reaches any device's socket and hands each
// datagram, with its arrival on the calendar clock, to a function, on that
// thread. Linux watches the sockets with epoll, reads them in batches
// (recvmmsg) and takes the arrival from the kernel's receive timestamp
// (SO_TIMESTAMPNS), so the thread's own wake-ups are not counted and can be
// few: it wakes at most once every nGrainMs. Windows keeps a receive
// posted on every socket and waits on an I/O completion port, taking the
// arrival when the thread wakes with the completed receives (a reply longer
// than 2,048 bytes is cut to them there). The sockets must outlive the
// reader; Start and Stop from one controlling thread (the destructor stops
// too).
class CReplyReader {
public:
    struct Reply {
        uint32_t nDevice;  // 0-based within the sockets
        const sockaddr_storage& from;
        const char* pData;
        size_t nLength;
        int64_t nArrivalNs;  // nanoseconds since 1970
    };
    using OnReply = std::function<void(const Reply& reply)>;

    // Where the arrival is the kernel's, how long the thread lets replies
    // gather between two wake-ups: a wake-up of a thread of its own per
    // reply would cost a fleet of many processes more than matching does.
    static constexpr int kReadGrainMs = 10;
    // A DTLS handshake's next flight waits for the reader: a grain this
    // fine keeps that wait out of the handshake's time.
    static constexpr int kHandshakeGrainMs = 1;

    CReplyReader(const CDeviceSockets& sockets, OnReply onReply, int nGrainMs = kReadGrainMs);
    ~CReplyReader();
    CReplyReader(const CReplyReader&) = delete;
    CReplyReader& operator=(const CReplyReader&) = delete;

    [[nodiscard]] CStatus Start();
    void Stop();
    // Every reply that arrived before this instant (nanoseconds since 1970)
    // has been handed on; 0 until the thread's first pass. A datagram may
    // only be called lost once this is past its deadline: a reply stamped in
    // time but not yet read, while the thread waited for a core, is not
    // lost. Any thread.
    int64_t ReadUpToNs() const;

private:
    struct Waiter;

    void Run();
    // Reads what is waiting on device nDevice's socket; nWokeNs, when the
    // thread woke for it, stands for the arrival where the system tells none.
    void Drain(uint32_t nDevice, int64_t nWokeNs);

    const CDeviceSockets& m_sockets;
    OnReply m_onReply;
    const int m_nGrainMs;
    std::unique_ptr<Waiter> m_pWaiter;
};
