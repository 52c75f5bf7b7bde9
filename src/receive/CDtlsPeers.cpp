#include "receive/CDtlsPeers.h"

#include <cstring>

#include "dtls/CDtlsContext.h"

namespace {

// A ClientHello in epoch 0: a peer starting anew (record type 22, epoch 0,
// handshake type 1).
bool IsClientHello(const char* pData, size_t nLength)
{
    const auto byte = [pData](size_t i) { return static_cast<unsigned char>(pData[i]); };
    return nLength > 13 && byte(0) == 22 && byte(3) == 0 && byte(4) == 0 && byte(13) == 1;
}

}  // namespace

CDtlsPeers::CDtlsPeers(CDtlsContext& context, Send send, CHandshakeStats& stats)
    : m_context(context), m_send(std::move(send)), m_stats(stats), m_nLongestNs(context.LongestHandshakeNs())
{
}

CDtlsPeers::~CDtlsPeers() = default;

std::string CDtlsPeers::Key(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::string strKey(1 + sizeof in6.sin6_port + sizeof in6.sin6_addr, '6');
        std::memcpy(&strKey[1], &in6.sin6_port, sizeof in6.sin6_port);
        std::memcpy(&strKey[1 + sizeof in6.sin6_port], &in6.sin6_addr, sizeof in6.sin6_addr);
        return strKey;
    }
    const auto& in4 = reinterpret_cast<const sockaddr_in&>(address);
    std::string strKey(1 + sizeof in4.sin_port + sizeof in4.sin_addr, '4');
    std::memcpy(&strKey[1], &in4.sin_port, sizeof in4.sin_port);
    std::memcpy(&strKey[1 + sizeof in4.sin_port], &in4.sin_addr, sizeof in4.sin_addr);
    return strKey;
}

void CDtlsPeers::Feed(const sockaddr_storage& from, const char* pData, size_t nLength, int64_t nArrivalNs,
                      const CDtlsSession::OnData& onData)
{
    std::string strKey = Key(from);
    const auto found = m_index.find(strKey);
    uint32_t nSlot = 0;
    if (found == m_index.end()) {
        if (!IsClientHello(pData, nLength))
            return;
        nSlot = NewPeer(from, std::move(strKey), nArrivalNs);
    } else {
        nSlot = found->second;
        // A device that restarted: its old session is over.
        if (m_peers[nSlot].pSession->Open() && IsClientHello(pData, nLength)) {
            Remove(nSlot);
            nSlot = NewPeer(from, std::move(strKey), nArrivalNs);
        }
    }
    Peer& peer = m_peers[nSlot];
    switch (peer.pSession->Feed(pData, nLength, onData)) {
    case CDtlsSession::Step::kOpened:
        m_stats.Completed(nArrivalNs - peer.nStartedNs, peer.pSession->Resumed());
        break;
    case CDtlsSession::Step::kFailed:
        Failed(nSlot);
        break;
    case CDtlsSession::Step::kClosed:
        Remove(nSlot);
        break;
    case CDtlsSession::Step::kGoing:
        break;
    }
}

bool CDtlsPeers::Write(const sockaddr_storage& to, const char* pData, size_t nLength)
{
    const auto found = m_index.find(Key(to));
    return found != m_index.end() && m_peers[found->second].pSession->Write(pData, nLength);
}

void CDtlsPeers::OnTick(int64_t nNowNs)
{
    std::vector<uint32_t> still;
    for (const uint32_t nSlot : m_handshaking) {
        Peer& peer = m_peers[nSlot];
        if (!peer.pSession || !peer.pSession->Handshaking()) {
            peer.bListed = false;
            continue;
        }
        CDtlsSession& session = *peer.pSession;
        if (session.TimerDue()) {
            if (session.OnTimer(m_stats) == CDtlsSession::Step::kFailed) {
                peer.bListed = false;
                Failed(nSlot);
                continue;
            }
        } else if (nNowNs - peer.nStartedNs > m_nLongestNs) {
            // Nothing to retransmit (a cookie sent, no answer): as long as
            // retransmissions would have waited.
            m_stats.Failed(CHandshakeCounts::kTimeout);
            peer.bListed = false;
            Remove(nSlot);
            continue;
        }
        still.push_back(nSlot);
    }
    m_handshaking.swap(still);
}

uint32_t CDtlsPeers::NewPeer(const sockaddr_storage& address, std::string strKey, int64_t nNowNs)
{
    uint32_t nSlot = 0;
    if (!m_free.empty()) {
        nSlot = m_free.back();
        m_free.pop_back();
    } else {
        nSlot = static_cast<uint32_t>(m_peers.size());
        m_peers.emplace_back();
    }
    Peer& peer = m_peers[nSlot];
    peer.address = address;
    peer.nStartedNs = nNowNs;
    CDtlsSession::Link& link = *this;
    peer.pSession = std::make_unique<CDtlsSession>(m_context, link, nSlot);
    m_index.emplace(std::move(strKey), nSlot);
    if (!peer.bListed)
        m_handshaking.push_back(nSlot);
    peer.bListed = true;
    m_stats.Started();
    return nSlot;
}

void CDtlsPeers::Remove(uint32_t nSlot)
{
    Peer& peer = m_peers[nSlot];
    if (peer.pSession && peer.pSession->Open())
        m_stats.Closed();
    m_index.erase(Key(peer.address));
    peer.pSession.reset();
    m_free.push_back(nSlot);
}

void CDtlsPeers::Failed(uint32_t nSlot)
{
    m_stats.Failed(m_peers[nSlot].pSession->Cause());
    Remove(nSlot);
}

bool CDtlsPeers::SendDatagram(uint32_t nTag, const char* pData, size_t nLength)
{
    return m_send(m_peers[nTag].address, pData, nLength);
}

std::string CDtlsPeers::PeerBytes(uint32_t nTag)
{
    return Key(m_peers[nTag].address);
}
