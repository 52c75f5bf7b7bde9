#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dtls/CDtlsSession.h"
#include "figures/CHandshakeStats.h"
#include "net/SocketTypes.h"

class CDtlsContext;

// A receiver's DTLS sessions, one per peer address: a datagram from a new
// peer (or a new ClientHello from a known one: a device that restarted)
// starts a server session, which answers with the cookie exchange when the
// context asks for it; what the sessions carry goes on as the peers'
// datagrams, and answers go back as records. A handshake that does not
// complete within its retransmissions fails; one that never gets past the
// cookie is let go as a timeout after the same time.
//
// One thread (the receiver's reading thread). The context and stats are not
// owned and must outlive it; send carries one datagram to a peer.
class CDtlsPeers : private CDtlsSession::Link {
public:
    using Send = std::function<bool(const sockaddr_storage& to, const char* pData, size_t nLength)>;

    CDtlsPeers(CDtlsContext& context, Send send, CHandshakeStats& stats);
    ~CDtlsPeers() override;
    CDtlsPeers(const CDtlsPeers&) = delete;
    CDtlsPeers& operator=(const CDtlsPeers&) = delete;

    // A datagram from a peer at nArrivalNs (any clock that OnTick's is);
    // the application data it carries goes to onData.
    void Feed(const sockaddr_storage& from, const char* pData, size_t nLength, int64_t nArrivalNs,
              const CDtlsSession::OnData& onData);
    // Application data to a peer as one record; false when it has no open
    // session.
    bool Write(const sockaddr_storage& to, const char* pData, size_t nLength);
    // Retransmissions that are due, handshakes that ran out of time.
    void OnTick(int64_t nNowNs);
    // Sessions kept now (handshaking and open).
    size_t Sessions() const { return m_index.size(); }

private:
    struct Peer {
        sockaddr_storage address{};
        std::unique_ptr<CDtlsSession> pSession;
        int64_t nStartedNs = 0;
        bool bListed = false;  // in m_handshaking
    };

    // The address's family, port and address as bytes: the map's key and
    // the cookie's input.
    static std::string Key(const sockaddr_storage& address);
    uint32_t NewPeer(const sockaddr_storage& address, std::string strKey, int64_t nNowNs);
    void Remove(uint32_t nSlot);
    void Failed(uint32_t nSlot);

    bool SendDatagram(uint32_t nTag, const char* pData, size_t nLength) override;
    std::string PeerBytes(uint32_t nTag) override;

    CDtlsContext& m_context;
    Send m_send;
    CHandshakeStats& m_stats;
    std::vector<Peer> m_peers;
    std::vector<uint32_t> m_free;
    std::unordered_map<std::string, uint32_t> m_index;
    // Slots handshaking (or that were when last looked at).
    std::vector<uint32_t> m_handshaking;
    // How long a handshake may take in all: every retransmission's wait.
    const int64_t m_nLongestNs;
};
