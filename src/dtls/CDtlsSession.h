#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "figures/CHandshakeCounts.h"

class CDtlsContext;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

// One DTLS 1.2 association over datagrams that its holder carries: what the
// session writes goes out through the link one datagram at a time, and each
// datagram that arrives for it is fed in. A client starts its handshake with
// Connect (resuming a saved session when given one); a server answers a
// ClientHello fed to it, with the cookie exchange when the context asks for
// it. Retransmissions are the holder's to drive: it calls OnTimer once
// TimerDue.
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
        // A client's identity and pre-shared key, and the certificate files
        // it shows (empty: the context's); a server's peer address as bytes,
        // for its cookie.
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
    // An established session kept to resume.
    struct SavedFree {
        void operator()(SSL_SESSION* pSaved) const;
    };
    using SavedSession = std::unique_ptr<SSL_SESSION, SavedFree>;

    CDtlsSession(CDtlsContext& context, Link& link, uint32_t nTag);
    ~CDtlsSession();
    CDtlsSession(const CDtlsSession&) = delete;
    CDtlsSession& operator=(const CDtlsSession&) = delete;

    // Whether the session could be made at all (memory, a certificate that
    // cannot be read: Cause is kOther then).
    bool Valid() const { return m_pSsl != nullptr; }
    // A client's first flight; pResume, when given, a session to resume
    // (not taken over).
    Step Connect(SSL_SESSION* pResume);
    // A datagram from the peer; the application data it carries goes to
    // onData.
    Step Feed(const char* pData, size_t nLength, const OnData& onData);
    // Whether the handshake's next retransmission is due (the library's
    // own clock; within 15 ms counts as due).
    bool TimerDue() const;
    Step OnTimer();
    // Application data as one record in one datagram; false when it could
    // not be (not open, or too long for a record).
    bool Write(const char* pData, size_t nLength);
    // A close_notify to the peer.
    void Close();

    bool Open() const { return m_nState == State::kOpen; }
    bool Resumed() const;
    CHandshakeCounts::Cause Cause() const { return m_nCause; }
    int Retransmissions() const { return m_nRetransmissions; }
    // The established session, to resume later; null when there is none.
    SavedSession Saved() const;
    // The alert or library error of a failure, for the summary.
    const char* FailureText() const;

private:
    enum class State : uint8_t { kHandshaking, kOpen, kFailed, kClosed };

    friend struct CDtlsCallbacks;
    // The datagram BIO's ends.
    int ReadIn(char* pBuffer, int nSize);
    int WriteOut(const char* pData, int nLength);
    // After a library call: what it came to.
    Step After(int nResult);
    Step Fail(CHandshakeCounts::Cause nCause);

    CDtlsContext& m_context;
    Link& m_link;
    SSL* m_pSsl = nullptr;
    const char* m_pIn = nullptr;
    size_t m_nIn = 0;
    uint32_t m_nTag;
    State m_nState = State::kHandshaking;
    CHandshakeCounts::Cause m_nCause = CHandshakeCounts::kOther;
    uint8_t m_nRetransmissions = 0;
    // The peer sent datagrams that were not DTLS records.
    bool m_bForeign = false;
    // The peer's last alert (its description), 0 for none.
    uint8_t m_nAlert = 0;
    bool m_bAlertFromPeer = false;
    unsigned long m_nError = 0;
};
