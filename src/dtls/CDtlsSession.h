#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "figures/CHandshakeCounts.h"

class CDtlsClientConfig;
class CDtlsContext;
class CHandshakeStats;
struct mbedtls_ssl_context;

// One DTLS 1.2 association over datagrams that its holder carries: what the
// session writes goes out through the link one datagram at a time, and each
// datagram that arrives for it is fed in. A client starts its handshake with
// Connect (resuming a saved session when given one); a server answers a
// ClientHello fed to it, with the cookie exchange when the context asks for
// it. Retransmissions are the holder's to drive: it calls OnTimer once
// TimerDue.
//
// Between datagrams an open session is parked (unless the settings say
// not to): its state serialized (some 200 bytes) and the library's context
// (some 35 KB) freed, taken up again by the next datagram either way.
// Sessions of a suite that cannot be serialized (CBC) stay as they are, and
// so does one whose handshake ended with its own flight (a resumed client,
// a server after a full handshake) until the peer sends a record or the
// longest a handshake may take has passed.
//
// Not thread-safe: one thread at a time per session (the holder's lock).
// The context and the link must outlive it. Small on purpose: a fleet holds
// one per device.
class CDtlsSession {
public:
    // What a session needs of its holder.
    class Link {
    public:
        virtual ~Link() = default;
        // One datagram to the peer; false when it could not be sent (the
        // handshake's retransmissions cover a lost one).
        virtual bool SendDatagram(uint32_t nTag, const char* pData, size_t nLength) = 0;
        // A client's identity and pre-shared key, or the certificate and key
        // files it shows (when the context has a folder of them); a server's
        // peer address as bytes, for its cookie.
        virtual bool PskFor(uint32_t /*nTag*/, std::string& /*strIdentity*/, std::string& /*strKey*/) { return false; }
        virtual bool CertFor(uint32_t /*nTag*/, std::string& /*strCert*/, std::string& /*strKey*/) { return false; }
        virtual std::string PeerBytes(uint32_t /*nTag*/) { return std::string(); }
    };

    enum class Step : uint8_t {
        kGoing,   // still handshaking (or open, nothing changed)
        kOpened,  // the handshake completed now
        kFailed,  // it failed now: Cause says why
        kClosed,  // the peer closed an open session
    };
    using OnData = std::function<void(const char* pData, size_t nLength)>;
    // An established session kept to resume (serialized); empty: none.
    using SavedSession = std::vector<unsigned char>;

    CDtlsSession(CDtlsContext& context, Link& link, uint32_t nTag);
    ~CDtlsSession();
    CDtlsSession(const CDtlsSession&) = delete;
    CDtlsSession& operator=(const CDtlsSession&) = delete;

    // A client's first flight; pResume, when given and not empty, a session
    // to resume.
    Step Connect(const SavedSession* pResume);
    // A datagram from the peer; the application data it carries goes to
    // onData.
    Step Feed(const char* pData, size_t nLength, const OnData& onData);
    // Whether the handshake's next retransmission is due.
    bool TimerDue() const;
    // Retransmits when it is due, counting it in stats.
    Step OnTimer(CHandshakeStats& stats);
    // Application data as one record in one datagram; false when it could
    // not be (not open, or too long for a record).
    bool Write(const char* pData, size_t nLength);
    // A close_notify to the peer.
    void Close();

    bool Open() const { return m_nState == State::kOpen; }
    bool Handshaking() const { return m_nState == State::kHandshaking; }
    // Open and parked between datagrams.
    bool Parked() const { return !m_pSsl && !m_parked.empty(); }
    bool Resumed() const { return m_bResumed; }
    CHandshakeCounts::Cause Cause() const { return m_nCause; }
    int Retransmissions() const { return m_nRetransmissions; }
    // The established session, to resume later; empty when there is none.
    SavedSession Saved();
    // The alert or library error of a failure, for the summary.
    std::string FailureText() const;

private:
    enum class State : uint8_t { kHandshaking, kOpen, kFailed, kClosed };

    friend struct CDtlsSessionCallbacks;
    // A library context on this configuration, its callbacks ours.
    bool Setup(const void* pConfig);
    // The cookie exchange's start (a server): the peer's address as its
    // transport id.
    void NameThePeer();
    // What a handshake call came to.
    Step After(int nResult);
    Step Fail(CHandshakeCounts::Cause nCause);
    void Park();
    bool Unpark();

    CDtlsContext& m_context;
    Link& m_link;
    std::unique_ptr<mbedtls_ssl_context> m_pSsl;  // null while parked
    std::unique_ptr<CDtlsClientConfig> m_pOwn;    // a client's, until parked
    SavedSession m_parked;
    const char* m_pIn = nullptr;
    size_t m_nIn = 0;
    // The handshake timer (steady nanoseconds; 0: not running).
    int64_t m_nIntermediateNs = 0;
    int64_t m_nFinalNs = 0;
    int64_t m_nOpenedNs = 0;
    int m_nError = 0;
    uint32_t m_nTag;
    State m_nState = State::kHandshaking;
    CHandshakeCounts::Cause m_nCause = CHandshakeCounts::kOther;
    uint8_t m_nRetransmissions = 0;
    // The peer's fatal alert (its description), 0 for none.
    uint8_t m_nAlert = 0;
    // The peer sent datagrams that were not DTLS records.
    bool m_bForeign = false;
    bool m_bResumed = false;
    // This end sent a datagram during the current library call.
    bool m_bSent = false;
};
