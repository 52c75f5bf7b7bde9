#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "fleet/CFleetSink.h"
#include "net/SocketTypes.h"

// One non-blocking UDP socket per device, bound to its own local address and
// port, all sending to one target (IPv4 or IPv6; the bind addresses are of
// the target's family). Local device j uses address j mod A of the
// bind list (none: any address) and, with an explicit port range, port
// LO + j / A; otherwise the system picks an ephemeral port.
//
// Open checks the limits first (ports per address, file descriptors; the soft
// descriptor limit is raised to the hard one when needed) and says why it
// cannot go on. Send may be called from any thread; the sockets are closed in
// the destructor, after every user is done with them.
class CDeviceSockets : public CFleetSink {
public:
    struct Binding {
        std::vector<sockaddr_storage> addresses;  // empty: any address
        uint16_t nPortLow = 0;                    // both 0: ephemeral ports
        uint16_t nPortHigh = 0;
        bool bBroadcast = false;  // SO_BROADCAST on every socket
    };

    CDeviceSockets() = default;
    ~CDeviceSockets() override;
    CDeviceSockets(const CDeviceSockets&) = delete;
    CDeviceSockets& operator=(const CDeviceSockets&) = delete;

    // The ports the system picks from, and where it says so ("in
    // /proc/sys/net/ipv4/ip_local_port_range" on Linux).
    static void EphemeralRange(int& nLow, int& nHigh, std::string& strWhere);
    // Whether nDevices sockets fit the binding's ports, and if not, how many do.
    [[nodiscard]] static CStatus CheckPorts(uint32_t nDevices, const Binding& binding);
    // Raises the soft descriptor limit as far as needed and allowed; fails,
    // saying how many fit, when nDevices sockets still do not.
    [[nodiscard]] static CStatus CheckDescriptors(uint32_t nDevices);

    // What the kernel does for every datagram that reaches a socket here,
    // which replies to a large fleet run into (Linux): it looks the socket
    // up in one table of buckets, walking all the sockets in the bucket;
    // and it keeps a page of memory for every socket a datagram has
    // reached, until the socket closes, past a limit on all sockets
    // together every socket with data waiting drops what reaches it.
    struct KernelUdp {
        uint64_t nSockets = 0;  // open now
        uint64_t nTableBuckets = 0;
        uint64_t nInUsePages = 0;
        uint64_t nLimitPages = 0;
        uint64_t nPageBytes = 0;
    };
    // False where the system tells none of it (Windows).
    static bool ReadKernelUdp(KernelUdp& udp);
    // What to say when replies reaching nDevices more sockets would run into
    // either; nothing when they would not.
    static std::vector<std::string> ReplyWarnings(uint32_t nDevices, const KernelUdp& udp);

    [[nodiscard]] CStatus Open(uint32_t nDevices, const Binding& binding, const sockaddr_storage& target);
    // For a fleet that does not read its replies: nothing piles up, and no
    // reader has to be woken for it. Linux has the kernel drop whatever
    // reaches the sockets (a filter that accepts nothing, CDropAllFilter).
    [[nodiscard]] CStatus DiscardIncoming();

    bool Send(uint32_t nDevice, const char* pData, size_t nLength) override;
    size_t Size() const { return m_sockets.size(); }
    SocketHandle Handle(uint32_t nDevice) const { return m_sockets[nDevice]; }

private:
    // A non-blocking UDP socket that child processes do not inherit, or
    // kSocketInvalid with the reason in the last socket error.
    static SocketHandle NewSocket(int nFamily);
    // Device j's socket, bound to local.
    CStatus OpenDevice(uint32_t j, uint32_t nDevices, const sockaddr_storage& local, bool bBroadcast,
                       bool bExplicitPorts);

    std::vector<SocketHandle> m_sockets;
    sockaddr_storage m_target{};
    SocketLength m_nTargetLength = 0;
};
