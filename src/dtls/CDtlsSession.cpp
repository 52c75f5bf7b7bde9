#include "dtls/CDtlsSession.h"

#include <algorithm>
#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "dtls/CDtlsContext.h"

namespace {

// Alerts that refuse the keys or the certificate (bad_record_mac,
// decryption_failed, the certificate alerts, decrypt_error,
// unknown_psk_identity).
bool IsKeyAlert(uint8_t nAlert)
{
    static const uint8_t kKeyAlerts[] = {20, 21, 42, 43, 44, 45, 46, 48, 49, 51, 115};
    return std::find(std::begin(kKeyAlerts), std::end(kKeyAlerts), nAlert) != std::end(kKeyAlerts);
}

// Waiting in these states, the peer has answered the first flight and never
// took the keyed part: with pre-shared keys, the two keys differ (a record
// that fails its check is dropped without a word in DTLS).
bool WaitsOnKeys(OSSL_HANDSHAKE_STATE nState)
{
    switch (nState) {
    case TLS_ST_CW_FINISHED:
    case TLS_ST_CR_CHANGE:
    case TLS_ST_SR_KEY_EXCH:
    case TLS_ST_SR_CHANGE:
    case TLS_ST_SW_FINISHED:
        return true;
    default:
        return false;
    }
}

// A DTLS record starts with a content type of 20 to 25 and a version byte
// of 0xfe.
bool IsRecord(const char* pData, size_t nLength)
{
    const unsigned char nType = static_cast<unsigned char>(pData[0]);
    return nLength >= 13 && nType >= 20 && nType <= 25 && static_cast<unsigned char>(pData[1]) == 0xfe;
}

}  // namespace

CDtlsSession::CDtlsSession(CDtlsContext& context, Link& link, uint32_t nTag)
    : m_context(context), m_link(link), m_nTag(nTag)
{
    m_pSsl = context.NewSsl(this);
    if (m_pSsl == nullptr || !context.CertFolder())
        return;
    std::string strCert;
    std::string strKey;
    ERR_clear_error();
    if (!link.CertFor(nTag, strCert, strKey) ||
        SSL_use_certificate_chain_file(m_pSsl, strCert.c_str()) != 1 ||
        SSL_use_PrivateKey_file(m_pSsl, strKey.c_str(), SSL_FILETYPE_PEM) != 1) {
        m_nError = ERR_peek_error();
        ERR_clear_error();
        SSL_free(m_pSsl);
        m_pSsl = nullptr;
    }
}

CDtlsSession::~CDtlsSession()
{
    // An open session let go without a close_notify (a device that lost
    // power) stays resumable: the library would otherwise mark it spent.
    if (m_pSsl != nullptr && m_nState == State::kOpen)
        SSL_set_shutdown(m_pSsl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_free(m_pSsl);
}

int CDtlsSession::ReadIn(char* pBuffer, int nSize)
{
    if (m_pIn == nullptr)
        return -1;
    const size_t nCopied = std::min(m_nIn, static_cast<size_t>(nSize));
    std::memcpy(pBuffer, m_pIn, nCopied);
    m_pIn = nullptr;
    return static_cast<int>(nCopied);
}

int CDtlsSession::WriteOut(const char* pData, int nLength)
{
    // A datagram the system would not take is lost as one on the way
    // would be: the handshake retransmits, a record is gone.
    m_link.SendDatagram(m_nTag, pData, static_cast<size_t>(nLength));
    return nLength;
}

CDtlsSession::Step CDtlsSession::Connect(SSL_SESSION* pResume)
{
    if (m_pSsl == nullptr)
        return Fail(CHandshakeCounts::kOther);
    if (pResume != nullptr)
        SSL_set_session(m_pSsl, pResume);
    ERR_clear_error();
    return After(SSL_do_handshake(m_pSsl));
}

CDtlsSession::Step CDtlsSession::Feed(const char* pData, size_t nLength, const OnData& onData)
{
    if (m_pSsl == nullptr || m_nState == State::kFailed || m_nState == State::kClosed)
        return Step::kGoing;
    if (!IsRecord(pData, nLength)) {
        m_bForeign = true;
        return Step::kGoing;
    }
    m_pIn = pData;
    m_nIn = nLength;
    ERR_clear_error();
    Step step = Step::kGoing;
    if (m_nState == State::kHandshaking) {
        step = After(SSL_do_handshake(m_pSsl));
        if (step != Step::kOpened)
            return step;
    }
    char buffer[16384];
    while (true) {
        const int n = SSL_read(m_pSsl, buffer, sizeof buffer);
        if (n > 0) {
            onData(buffer, static_cast<size_t>(n));
            continue;
        }
        const int nError = SSL_get_error(m_pSsl, n);
        m_pIn = nullptr;
        if (nError == SSL_ERROR_WANT_READ || nError == SSL_ERROR_WANT_WRITE)
            return step;
        m_nState = State::kClosed;
        ERR_clear_error();
        return Step::kClosed;
    }
}

bool CDtlsSession::TimerDue() const
{
    timeval left{};
    return m_pSsl != nullptr && m_nState == State::kHandshaking && DTLSv1_get_timeout(m_pSsl, &left) == 1 &&
           left.tv_sec == 0 && left.tv_usec == 0;
}

CDtlsSession::Step CDtlsSession::OnTimer()
{
    if (m_pSsl == nullptr || m_nState != State::kHandshaking)
        return Step::kGoing;
    if (m_nRetransmissions >= CDtlsSettings::kMaxRetransmissions)
        return Fail(m_bForeign                          ? CHandshakeCounts::kNotDtls
                    : WaitsOnKeys(SSL_get_state(m_pSsl)) ? CHandshakeCounts::kKey
                                                         : CHandshakeCounts::kTimeout);
    ERR_clear_error();
    if (DTLSv1_handle_timeout(m_pSsl) > 0)
        ++m_nRetransmissions;
    return Step::kGoing;
}

bool CDtlsSession::Write(const char* pData, size_t nLength)
{
    if (m_nState != State::kOpen || nLength == 0 || nLength > SSL3_RT_MAX_PLAIN_LENGTH)
        return false;
    ERR_clear_error();
    const bool bWritten = SSL_write(m_pSsl, pData, static_cast<int>(nLength)) == static_cast<int>(nLength);
    ERR_clear_error();
    return bWritten;
}

void CDtlsSession::Close()
{
    if (m_nState != State::kOpen)
        return;
    ERR_clear_error();
    SSL_shutdown(m_pSsl);
    ERR_clear_error();
    m_nState = State::kClosed;
}

bool CDtlsSession::Resumed() const
{
    return m_pSsl != nullptr && SSL_session_reused(m_pSsl) == 1;
}

void CDtlsSession::SavedFree::operator()(SSL_SESSION* pSaved) const
{
    SSL_SESSION_free(pSaved);
}

CDtlsSession::SavedSession CDtlsSession::Saved() const
{
    return SavedSession(m_pSsl != nullptr && m_nState != State::kFailed ? SSL_get1_session(m_pSsl) : nullptr);
}

const char* CDtlsSession::FailureText() const
{
    if (m_nAlert != 0)
        return SSL_alert_desc_string_long(m_nAlert);
    const char* pszReason = m_nError != 0 ? ERR_reason_error_string(m_nError) : nullptr;
    if (pszReason != nullptr)
        return pszReason;
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
    if (nResult == 1) {
        m_nState = State::kOpen;
        return Step::kOpened;
    }
    const int nError = SSL_get_error(m_pSsl, nResult);
    if (nError == SSL_ERROR_WANT_READ || nError == SSL_ERROR_WANT_WRITE) {
        m_pIn = nullptr;
        return Step::kGoing;
    }
    m_nError = ERR_peek_error();
    ERR_clear_error();
    if (m_nAlert != 0 && m_bAlertFromPeer)
        return Fail(IsKeyAlert(m_nAlert) ? CHandshakeCounts::kKey : CHandshakeCounts::kRefused);
    if (ERR_GET_REASON(m_nError) == SSL_R_CERTIFICATE_VERIFY_FAILED)
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
