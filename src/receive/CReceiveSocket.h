#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "net/SocketTypes.h"

// A receive run's UDP socket: bound to the address it listens on, read in
// batches, answers sent from it (so from the port the devices send to).
// Linux reads with recvmmsg, takes each datagram's arrival from the kernel
// (SO_TIMESTAMPNS) and the socket's drop counter with it (SO_RXQ_OVFL), and
// asks for a receive buffer of kWantedBufferBytes (beyond net.core.rmem_max
// only with the right to). Windows reads with recvfrom, stamps arrivals when
// it reads them, and does not tell drops. Read, Send and the datagrams
// belong to one thread; Drops may be called from any.
class CReceiveSocket {
public:
    struct Datagram {
        const char* pData = nullptr;
        size_t nLength = 0;
        sockaddr_storage from{};
        int64_t nArrivalUnixNs = 0;
    };

    static constexpr size_t kBatch = 64;
    static constexpr int kWantedBufferBytes = 32 << 20;

    // nPadding: bytes kept readable after each datagram's own.
    explicit CReceiveSocket(size_t nPadding);
    ~CReceiveSocket();
    CReceiveSocket(const CReceiveSocket&) = delete;
    CReceiveSocket& operator=(const CReceiveSocket&) = delete;

    // Binds to a numeric IPv4 or IPv6 address and a port (0: one the system
    // picks). Fails saying the address and the system's reason.
    [[nodiscard]] CStatus Open(const std::string& strAddress, uint16_t nPort);
    // The address listened on, as "0.0.0.0:51609" or "[::1]:40000".
    std::string LocalText() const;
    // The receive buffer the system gave, in bytes.
    int BufferBytes() const { return m_nBufferBytes; }
    // Whether Drops tells the kernel's drops on this system.
    static bool TellsDrops();

    // Waits up to nTimeoutNs for a datagram and reads what has arrived, at
    // most kBatch; answers how many (0 when none came). The datagrams stay
    // until the next Read.
    size_t Read(int64_t nTimeoutNs);
    const Datagram& At(size_t i) const { return m_datagrams[i]; }
    // Datagrams the kernel dropped at this socket since it was opened.
    uint64_t Drops() const;

    // Sends without waiting: a full send buffer is a failure too.
    [[nodiscard]] CStatus Send(const sockaddr_storage& to, const char* pData, size_t nLength);

private:
    struct Platform;

    // The platform's socket of the family, with its options; strWhere
    // begins a failure's message.
    [[nodiscard]] CStatus Create(int nFamily, const std::string& strWhere);
    // The batch's headers pointed at the buffers, once bound.
    void PrepareBatch();
    // strWhat and the last socket error's words.
    static CStatus LastError(const std::string& strWhat);

    const size_t m_nSlot;
    std::vector<char> m_buffer;
    std::vector<Datagram> m_datagrams;
    SocketHandle m_hSocket = kSocketInvalid;
    sockaddr_storage m_local{};
    int m_nBufferBytes = 0;
    std::unique_ptr<Platform> m_pPlatform;
};
