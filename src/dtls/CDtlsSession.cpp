#include "dtls/CDtlsSession.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <mbedtls/ssl.h>
#include <mbedtls/x509.h>

#include "dtls/CDtlsClientConfig.h"
#include "dtls/CDtlsContext.h"
#include "figures/CHandshakeStats.h"

// What mbed TLS itself does once a record shows the peer has the last
// flight (its ssl_internal.h, which C++ cannot include as it is).
extern "C" void mbedtls_ssl_handshake_wrapup_free_hs_transform(mbedtls_ssl_context* pSsl);

namespace {

// m_nError for a device the keys have no key for (the library's are
// negative).
constexpr int kNoKey = 1;

// Handshake messages are cut to fit this much of a datagram; application
// records go whole, up to the record limit.
constexpr uint16_t kMtu = 1400;

int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Alerts that refuse the keys or the certificate (bad_record_mac,
// decryption_failed, the certificate alerts, decrypt_error,
// unknown_psk_identity).
bool IsKeyAlert(uint8_t nAlert)
{
    static const uint8_t kKeyAlerts[] = {20, 21, 42, 43, 44, 45, 46, 48, 49, 51, 115};
    return std::find(std::begin(kKeyAlerts), std::end(kKeyAlerts), nAlert) != std::end(kKeyAlerts);
}

const char* AlertName(uint8_t nAlert)
{
    switch (nAlert) {
    case 10: return "unexpected_message";
    case 20: return "bad_record_mac";
    case 40: return "handshake_failure";
    case 42: return "bad_certificate";
    case 45: return "certificate_expired";
    case 46: return "certificate_unknown";
    case 47: return "illegal_parameter";
    case 48: return "unknown_ca";
    case 50: return "decode_error";
    case 51: return "decrypt_error";
    case 70: return "protocol_version";
    case 71: return "insufficient_security";
    case 80: return "internal_error";
    case 115: return "unknown_psk_identity";
    default: return nullptr;
    }
}

// Waiting in these states, the peer has answered the first flight and never
// took the keyed part: with pre-shared keys, the two keys differ (a record
// that fails its check is dropped without a word in DTLS).
bool WaitsOnKeys(int nState)
{
    return nState == MBEDTLS_SSL_SERVER_NEW_SESSION_TICKET || nState == MBEDTLS_SSL_SERVER_CHANGE_CIPHER_SPEC ||
           nState == MBEDTLS_SSL_SERVER_FINISHED || nState == MBEDTLS_SSL_CLIENT_CHANGE_CIPHER_SPEC ||
           nState == MBEDTLS_SSL_CLIENT_FINISHED;
}

// A DTLS record starts with a content type of 20 to 25 and a version byte
// of 0xfe.
bool IsRecord(const char* pData, size_t nLength)
{
    const unsigned char nType = static_cast<unsigned char>(pData[0]);
    return nLength >= 13 && nType >= 20 && nType <= 25 && static_cast<unsigned char>(pData[1]) == 0xfe;
}

}  // namespace

// The library's callbacks: the datagrams each way and the handshake timer.
struct CDtlsSessionCallbacks {
    static int Send(void* pSession, const unsigned char* pData, size_t nLength)
    {
        CDtlsSession& session = *static_cast<CDtlsSession*>(pSession);
        session.m_bSent = true;
        // A datagram the system would not take is lost as one on the way
        // would be: the handshake retransmits, a record is gone.
        session.m_link.SendDatagram(session.m_nTag, reinterpret_cast<const char*>(pData), nLength);
        return static_cast<int>(nLength);
    }
    static int Receive(void* pSession, unsigned char* pBuffer, size_t nSize)
    {
        CDtlsSession& session = *static_cast<CDtlsSession*>(pSession);
        if (session.m_pIn == nullptr)
            return MBEDTLS_ERR_SSL_WANT_READ;
        const size_t nCopied = std::min(session.m_nIn, nSize);
        std::memcpy(pBuffer, session.m_pIn, nCopied);
        session.m_pIn = nullptr;
        return static_cast<int>(nCopied);
    }
    static void SetTimer(void* pSession, uint32_t nIntermediateMs, uint32_t nFinalMs)
    {
        CDtlsSession& session = *static_cast<CDtlsSession*>(pSession);
        const int64_t nNowNs = SteadyNs();
        session.m_nIntermediateNs = nFinalMs == 0 ? 0 : nNowNs + int64_t{nIntermediateMs} * 1000000;
        session.m_nFinalNs = nFinalMs == 0 ? 0 : nNowNs + int64_t{nFinalMs} * 1000000;
    }
    static int GetTimer(void* pSession)
    {
        const CDtlsSession& session = *static_cast<const CDtlsSession*>(pSession);
        if (session.m_nFinalNs == 0)
            return -1;
        const int64_t nNowNs = SteadyNs();
        return nNowNs >= session.m_nFinalNs ? 2 : nNowNs >= session.m_nIntermediateNs ? 1 : 0;
    }
};

CDtlsSession::CDtlsSession(CDtlsContext& context, Link& link, uint32_t nTag)
    : m_context(context), m_link(link), m_nTag(nTag)
{
    if (context.GetRole() == CDtlsContext::Role::kServer && Setup(context.Config()))
        NameThePeer();
}

CDtlsSession::~CDtlsSession()
{
    if (m_pSsl)
        mbedtls_ssl_free(m_pSsl.get());
}

bool CDtlsSession::Setup(const void* pConfig)
{
    auto pSsl = std::make_unique<mbedtls_ssl_context>();
    mbedtls_ssl_init(pSsl.get());
    m_nError = mbedtls_ssl_setup(pSsl.get(), static_cast<const mbedtls_ssl_config*>(pConfig));
    if (m_nError != 0) {
        mbedtls_ssl_free(pSsl.get());
        return false;
    }
    mbedtls_ssl_set_bio(pSsl.get(), this, CDtlsSessionCallbacks::Send, CDtlsSessionCallbacks::Receive, nullptr);
    mbedtls_ssl_set_timer_cb(pSsl.get(), this, CDtlsSessionCallbacks::SetTimer, CDtlsSessionCallbacks::GetTimer);
    mbedtls_ssl_set_mtu(pSsl.get(), kMtu);
    m_pSsl = std::move(pSsl);
    return true;
}

void CDtlsSession::NameThePeer()
{
    const std::string strPeer = m_link.PeerBytes(m_nTag);
    mbedtls_ssl_set_client_transport_id(m_pSsl.get(), reinterpret_cast<const unsigned char*>(strPeer.data()),
                                        strPeer.size());
}

CDtlsSession::Step CDtlsSession::Connect(const SavedSession* pResume)
{
    std::string strIdentity;
    std::string strKey;
    std::string strCert;
    std::string strKeyFile;
    if (m_context.CertFolder())
        m_link.CertFor(m_nTag, strCert, strKeyFile);
    else if (m_context.Settings().Psk() && !m_link.PskFor(m_nTag, strIdentity, strKey)) {
        m_nError = kNoKey;
        return Fail(CHandshakeCounts::kKey);
    }
    m_pOwn = std::make_unique<CDtlsClientConfig>();
    if (!m_context.ClientConfig(*m_pOwn, strIdentity, strKey, strCert, strKeyFile, m_nError) ||
        !Setup(&m_pOwn->Config()))
        return Fail(CHandshakeCounts::kOther);
    if (pResume != nullptr && !pResume->empty()) {
        mbedtls_ssl_session session;
        mbedtls_ssl_session_init(&session);
        if (mbedtls_ssl_session_load(&session, pResume->data(), pResume->size()) == 0)
            mbedtls_ssl_set_session(m_pSsl.get(), &session);
        mbedtls_ssl_session_free(&session);
    }
    m_bSent = false;
    return After(mbedtls_ssl_handshake(m_pSsl.get()));
}

CDtlsSession::Step CDtlsSession::Feed(const char* pData, size_t nLength, const OnData& onData)
{
    if (m_nState == State::kFailed || m_nState == State::kClosed || (!m_pSsl && m_parked.empty()))
        return Step::kGoing;
    if (!IsRecord(pData, nLength)) {
        m_bForeign = true;
        return Step::kGoing;
    }
    // A parked session that cannot be taken up again is over.
    if (!m_pSsl && !Unpark())
        return Step::kClosed;
    m_pIn = pData;
    m_nIn = nLength;
    Step step = Step::kGoing;
    if (m_nState == State::kHandshaking) {
        m_bSent = false;
        step = After(mbedtls_ssl_handshake(m_pSsl.get()));
        if (step != Step::kOpened)
            return step;
    }
    unsigned char buffer[16384];
    while (true) {
        const int n = mbedtls_ssl_read(m_pSsl.get(), buffer, sizeof buffer);
        if (n > 0) {
            onData(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
            continue;
        }
        m_pIn = nullptr;
        if (n == MBEDTLS_ERR_SSL_WANT_READ || n == MBEDTLS_ERR_SSL_WANT_WRITE || n == MBEDTLS_ERR_SSL_TIMEOUT) {
            Park();
            return step;
        }
        m_nError = n;
        m_nState = State::kClosed;
        return Step::kClosed;
    }
}

bool CDtlsSession::TimerDue() const
{
    return m_nState == State::kHandshaking && m_nFinalNs != 0 && SteadyNs() >= m_nFinalNs;
}

CDtlsSession::Step CDtlsSession::OnTimer(CHandshakeStats& stats)
{
    if (!TimerDue())
        return Step::kGoing;
    m_bSent = false;
    const int nResult = mbedtls_ssl_handshake(m_pSsl.get());
    if (nResult == MBEDTLS_ERR_SSL_TIMEOUT)
        return Fail(m_bForeign                      ? CHandshakeCounts::kNotDtls
                    : WaitsOnKeys(m_pSsl->state)    ? CHandshakeCounts::kKey
                                                    : CHandshakeCounts::kTimeout);
    if (m_bSent) {
        ++m_nRetransmissions;
        stats.Retransmitted();
    }
    return After(nResult);
}

bool CDtlsSession::Write(const char* pData, size_t nLength)
{
    if (m_nState != State::kOpen || nLength == 0 || nLength > MBEDTLS_SSL_OUT_CONTENT_LEN)
        return false;
    if (!m_pSsl && !Unpark())
        return false;
    const int nWritten = mbedtls_ssl_write(m_pSsl.get(), reinterpret_cast<const unsigned char*>(pData), nLength);
    Park();
    return nWritten == static_cast<int>(nLength);
}

void CDtlsSession::Close()
{
    if (m_nState != State::kOpen || (!m_pSsl && !Unpark()))
        return;
    mbedtls_ssl_close_notify(m_pSsl.get());
    m_nState = State::kClosed;
}

CDtlsSession::SavedSession CDtlsSession::Saved()
{
    SavedSession saved;
    if (m_nState != State::kOpen || (!m_pSsl && !Unpark()))
        return saved;
    mbedtls_ssl_session session;
    mbedtls_ssl_session_init(&session);
    size_t nLength = 0;
    if (mbedtls_ssl_get_session(m_pSsl.get(), &session) == 0 &&
        mbedtls_ssl_session_save(&session, nullptr, 0, &nLength) == MBEDTLS_ERR_SSL_BUFFER_TOO_SMALL) {
        saved.resize(nLength);
        if (mbedtls_ssl_session_save(&session, saved.data(), saved.size(), &nLength) != 0)
            saved.clear();
    }
    mbedtls_ssl_session_free(&session);
    Park();
    return saved;
}

std::string CDtlsSession::FailureText() const
{
    if (m_nAlert != 0) {
        const char* pszName = AlertName(m_nAlert);
        return pszName ? pszName : "alert " + std::to_string(m_nAlert);
    }
    if (m_nError == kNoKey)
        return "the key file has no key for the device";
    if (m_nError != 0 && m_nError != MBEDTLS_ERR_SSL_TIMEOUT)
        return CDtlsContext::ErrorText(m_nError);
    switch (m_nCause) {
    case CHandshakeCounts::kKey:
        return "the peer answered the hello and never finished";
    case CHandshakeCounts::kNotDtls:
        return "what came back was not DTLS";
    case CHandshakeCounts::kTimeout:
        return "no answer through the retransmissions";
    default:
        return "failed";
    }
}

CDtlsSession::Step CDtlsSession::After(int nResult)
{
    m_pIn = nullptr;
    if (nResult == 0) {
        m_nState = State::kOpen;
        // A full handshake ends with the server's flight, an abbreviated one
        // with the client's: the end that sends last resumed only if it is
        // the client.
        const bool bClient = m_context.GetRole() == CDtlsContext::Role::kClient;
        m_bResumed = bClient == m_bSent;
        m_nOpenedNs = SteadyNs();
        return Step::kOpened;
    }
    if (nResult == MBEDTLS_ERR_SSL_WANT_READ || nResult == MBEDTLS_ERR_SSL_WANT_WRITE)
        return Step::kGoing;
    if (nResult == MBEDTLS_ERR_SSL_HELLO_VERIFY_REQUIRED) {
        // The cookie went out; the peer's next ClientHello carries it.
        mbedtls_ssl_session_reset(m_pSsl.get());
        NameThePeer();
        return Step::kGoing;
    }
    m_nError = nResult;
    if (nResult == MBEDTLS_ERR_SSL_FATAL_ALERT_MESSAGE) {
        m_nAlert = m_pSsl->in_msg[1];
        return Fail(IsKeyAlert(m_nAlert) ? CHandshakeCounts::kKey : CHandshakeCounts::kRefused);
    }
    // A Finished that fails its check: the keys differ.
    if (nResult == MBEDTLS_ERR_SSL_UNKNOWN_IDENTITY || nResult == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED ||
        nResult == MBEDTLS_ERR_SSL_PK_TYPE_MISMATCH || nResult == MBEDTLS_ERR_SSL_INVALID_MAC)
        return Fail(CHandshakeCounts::kKey);
    return Fail(CHandshakeCounts::kOther);
}

CDtlsSession::Step CDtlsSession::Fail(CHandshakeCounts::Cause nCause)
{
    m_pIn = nullptr;
    m_nState = State::kFailed;
    m_nCause = nCause;
    return Step::kFailed;
}

void CDtlsSession::Park()
{
    if (m_nState != State::kOpen || !m_pSsl || !m_context.Settings().bPark)
        return;
    if (m_pSsl->handshake != nullptr) {
        // The handshake's last flight was ours: the library keeps it to
        // answer the peer's retransmission until a record of the peer's
        // shows it arrived. A peer that sends nothing has had every
        // retransmission a handshake may take by the end of this wait.
        if (SteadyNs() - m_nOpenedNs < m_context.LongestHandshakeNs())
            return;
        mbedtls_ssl_handshake_wrapup_free_hs_transform(m_pSsl.get());
    }
    size_t nLength = 0;
    if (mbedtls_ssl_context_save(m_pSsl.get(), nullptr, 0, &nLength) != MBEDTLS_ERR_SSL_BUFFER_TOO_SMALL)
        return;
    m_parked.resize(nLength);
    if (mbedtls_ssl_context_save(m_pSsl.get(), m_parked.data(), m_parked.size(), &nLength) != 0) {
        m_parked.clear();
        return;
    }
    m_parked.shrink_to_fit();
    mbedtls_ssl_free(m_pSsl.get());
    m_pSsl.reset();
    m_pOwn.reset();
}

bool CDtlsSession::Unpark()
{
    if (!Setup(m_context.Config()))
        return false;
    m_nError = mbedtls_ssl_context_load(m_pSsl.get(), m_parked.data(), m_parked.size());
    SavedSession().swap(m_parked);
    if (m_nError != 0) {
        mbedtls_ssl_free(m_pSsl.get());
        m_pSsl.reset();
        m_nState = State::kClosed;
        return false;
    }
    return true;
}
