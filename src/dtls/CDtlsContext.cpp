#include "dtls/CDtlsContext.h"

#include <cstring>
#include <filesystem>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include "dtls/CDtlsSession.h"

namespace {

// Handshake messages are cut to fit this much of a datagram; application
// records go whole, up to the record limit.
constexpr long kMtu = 1400;
constexpr size_t kCookieBytes = 32;

CDtlsSession* SessionOf(SSL* pSsl)
{
    return static_cast<CDtlsSession*>(SSL_get_app_data(pSsl));
}

bool IsFolder(const std::string& strPath)
{
    std::error_code error;
    return std::filesystem::is_directory(strPath, error);
}

// The library's reason for the last failure, cleared.
std::string LibraryError()
{
    const unsigned long nError = ERR_get_error();
    ERR_clear_error();
    const char* pszReason = nError != 0 ? ERR_reason_error_string(nError) : nullptr;
    return pszReason ? pszReason : "unknown reason";
}

}  // namespace

// The datagram BIO's and the library's callbacks, with access to the
// session's insides.
struct CDtlsCallbacks {
    static int Write(BIO* pBio, const char* pData, int nLength)
    {
        return static_cast<CDtlsSession*>(BIO_get_data(pBio))->WriteOut(pData, nLength);
    }
    static int Read(BIO* pBio, char* pBuffer, int nSize)
    {
        const int n = static_cast<CDtlsSession*>(BIO_get_data(pBio))->ReadIn(pBuffer, nSize);
        BIO_clear_retry_flags(pBio);
        if (n <= 0)
            BIO_set_retry_read(pBio);
        return n;
    }
    static long Ctrl(BIO* /*pBio*/, int nCmd, long /*nArg*/, void* /*pArg*/)
    {
        // A flush has nothing to do; the datagram queries (MTU, peer,
        // timeouts) are answered by the session's settings instead.
        return nCmd == BIO_CTRL_FLUSH ? 1 : 0;
    }
    static int Create(BIO* pBio)
    {
        BIO_set_init(pBio, 1);
        return 1;
    }

    static unsigned int ClientPsk(SSL* pSsl, const char* /*pszHint*/, char* pszIdentity, unsigned int nMaxIdentity,
                                  unsigned char* pPsk, unsigned int nMaxPsk)
    {
        CDtlsSession* pSession = SessionOf(pSsl);
        std::string strIdentity;
        std::string strKey;
        if (!pSession->m_link.PskFor(pSession->m_nTag, strIdentity, strKey) || strIdentity.size() >= nMaxIdentity ||
            strKey.size() > nMaxPsk)
            return 0;
        std::memcpy(pszIdentity, strIdentity.c_str(), strIdentity.size() + 1);
        std::memcpy(pPsk, strKey.data(), strKey.size());
        return static_cast<unsigned int>(strKey.size());
    }
    static unsigned int ServerPsk(SSL* pSsl, const char* pszIdentity, unsigned char* pPsk, unsigned int nMaxPsk)
    {
        const CDtlsContext& context = SessionOf(pSsl)->m_context;
        std::string strKey;
        if (pszIdentity == nullptr || !context.m_keys.ForIdentity(pszIdentity, strKey) || strKey.size() > nMaxPsk)
            return 0;
        std::memcpy(pPsk, strKey.data(), strKey.size());
        return static_cast<unsigned int>(strKey.size());
    }
    static int Cookie(SSL* pSsl, unsigned char* pCookie, unsigned int* pnLength)
    {
        CDtlsSession* pSession = SessionOf(pSsl);
        const std::string strPeer = pSession->m_link.PeerBytes(pSession->m_nTag);
        const std::string& strSecret = pSession->m_context.m_strCookieSecret;
        unsigned int nLength = 0;
        unsigned char digest[EVP_MAX_MD_SIZE];
        if (!HMAC(EVP_sha256(), strSecret.data(), static_cast<int>(strSecret.size()),
                  reinterpret_cast<const unsigned char*>(strPeer.data()), strPeer.size(), digest, &nLength))
            return 0;
        std::memcpy(pCookie, digest, kCookieBytes);
        *pnLength = kCookieBytes;
        return 1;
    }
    static int VerifyCookie(SSL* pSsl, const unsigned char* pCookie, unsigned int nLength)
    {
        unsigned char expected[kCookieBytes];
        unsigned int nExpected = 0;
        return Cookie(pSsl, expected, &nExpected) == 1 && nLength == nExpected &&
               CRYPTO_memcmp(expected, pCookie, nLength) == 0;
    }
    static void Info(const SSL* pSsl, int nWhere, int nValue)
    {
        if ((nWhere & SSL_CB_ALERT) == 0)
            return;
        CDtlsSession* pSession = SessionOf(const_cast<SSL*>(pSsl));
        pSession->m_nAlert = static_cast<uint8_t>(nValue & 0xff);
        pSession->m_bAlertFromPeer = (nWhere & SSL_CB_READ) != 0;
    }
    // The first retransmission after the settings' wait, each next after
    // twice the last.
    static unsigned int Timer(SSL* pSsl, unsigned int nLastUs)
    {
        const int64_t nFirstUs = SessionOf(pSsl)->m_context.m_settings.nRetransmitNs / 1000;
        return nLastUs == 0 ? static_cast<unsigned int>(nFirstUs) : nLastUs * 2;
    }
};

CDtlsContext::CDtlsContext(const CDtlsSettings& settings, Role nRole) : m_settings(settings), m_nRole(nRole) {}

CDtlsContext::~CDtlsContext()
{
    SSL_CTX_free(m_pCtx);
    BIO_meth_free(m_pBio);
}

std::string CDtlsContext::LibraryText()
{
    return OpenSSL_version(OPENSSL_VERSION);
}

CStatus CDtlsContext::Create(const CDtlsSettings& settings, Role nRole, std::unique_ptr<CDtlsContext>& pContext)
{
    CStatus status = settings.Check(nRole == Role::kServer);
    if (!status.IsOk())
        return CStatus::Invalid("--dtls: " + status.Message());
    pContext.reset(new CDtlsContext(settings, nRole));
    status = pContext->Load();
    if (!status.IsOk())
        pContext.reset();
    return status;
}

CStatus CDtlsContext::Load()
{
    ERR_clear_error();
    if (!m_settings.strPskFile.empty()) {
        const CStatus loaded = CDtlsKeys::LoadFile(m_settings.strPskFile, m_keys);
        if (!loaded.IsOk())
            return loaded;
    } else if (!m_settings.strPskDerive.empty()) {
        const CStatus loaded = CDtlsKeys::LoadSecret(m_settings.strPskDerive, m_keys);
        if (!loaded.IsOk())
            return loaded;
    }
    m_pCtx = SSL_CTX_new(m_nRole == Role::kServer ? DTLS_server_method() : DTLS_client_method());
    m_pBio = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tovrik datagrams");
    if (m_pCtx == nullptr || m_pBio == nullptr)
        return CStatus::Error("cannot start DTLS: " + LibraryError());
    BIO_meth_set_write(m_pBio, CDtlsCallbacks::Write);
    BIO_meth_set_read(m_pBio, CDtlsCallbacks::Read);
    BIO_meth_set_ctrl(m_pBio, CDtlsCallbacks::Ctrl);
    BIO_meth_set_create(m_pBio, CDtlsCallbacks::Create);
    SSL_CTX_set_min_proto_version(m_pCtx, DTLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(m_pCtx, DTLS1_2_VERSION);
    // Idle sessions give back their record buffers.
    SSL_CTX_set_mode(m_pCtx, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_options(m_pCtx, SSL_OP_NO_QUERY_MTU);
    SSL_CTX_set_info_callback(m_pCtx, CDtlsCallbacks::Info);
    if (SSL_CTX_set_cipher_list(m_pCtx, m_settings.CipherList().c_str()) != 1)
        return CStatus::Invalid("--dtls-ciphers: the library offers none of them: " + LibraryError());
    if (m_settings.Psk()) {
        if (m_nRole == Role::kServer)
            SSL_CTX_set_psk_server_callback(m_pCtx, CDtlsCallbacks::ServerPsk);
        else
            SSL_CTX_set_psk_client_callback(m_pCtx, CDtlsCallbacks::ClientPsk);
    }
    if (!m_settings.strCert.empty()) {
        m_bCertFolder = m_nRole == Role::kClient && IsFolder(m_settings.strCert);
        if (m_bCertFolder && !IsFolder(m_settings.strKey))
            return CStatus::Invalid("--cert '" + m_settings.strCert + "' is a folder: --key must be one too");
        if (!m_bCertFolder &&
            (SSL_CTX_use_certificate_chain_file(m_pCtx, m_settings.strCert.c_str()) != 1 ||
             SSL_CTX_use_PrivateKey_file(m_pCtx, m_settings.strKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
             SSL_CTX_check_private_key(m_pCtx) != 1))
            return CStatus::Invalid("--cert/--key '" + m_settings.strCert + "', '" + m_settings.strKey +
                                    "': cannot be used: " + LibraryError());
    }
    if (!m_settings.strCa.empty()) {
        if (SSL_CTX_load_verify_locations(m_pCtx, m_settings.strCa.c_str(), nullptr) != 1)
            return CStatus::Invalid("--ca '" + m_settings.strCa + "': cannot be read: " + LibraryError());
        SSL_CTX_set_verify(m_pCtx,
                           m_nRole == Role::kServer ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT
                                                    : SSL_VERIFY_PEER,
                           nullptr);
    }
    if (m_nRole == Role::kServer) {
        m_strCookieSecret.resize(32);
        if (RAND_bytes(reinterpret_cast<unsigned char*>(m_strCookieSecret.data()),
                       static_cast<int>(m_strCookieSecret.size())) != 1)
            return CStatus::Error("cannot draw the cookie secret: " + LibraryError());
        SSL_CTX_set_cookie_generate_cb(m_pCtx, CDtlsCallbacks::Cookie);
        SSL_CTX_set_cookie_verify_cb(m_pCtx, CDtlsCallbacks::VerifyCookie);
        // Devices come back with tickets: the server keeps no state for them.
        SSL_CTX_set_session_cache_mode(m_pCtx, SSL_SESS_CACHE_OFF);
    } else {
        SSL_CTX_set_session_cache_mode(m_pCtx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    }
    return CStatus();
}

SSL* CDtlsContext::NewSsl(void* pSession)
{
    SSL* pSsl = SSL_new(m_pCtx);
    BIO* pBio = pSsl ? BIO_new(m_pBio) : nullptr;
    if (pBio == nullptr) {
        SSL_free(pSsl);
        return nullptr;
    }
    BIO_set_data(pBio, pSession);
    SSL_set_bio(pSsl, pBio, pBio);
    SSL_set_app_data(pSsl, pSession);
    SSL_set_mtu(pSsl, kMtu);
    DTLS_set_timer_cb(pSsl, CDtlsCallbacks::Timer);
    if (m_nRole == Role::kServer) {
        if (m_settings.bCookie)
            SSL_set_options(pSsl, SSL_OP_COOKIE_EXCHANGE);
        SSL_set_accept_state(pSsl);
    } else {
        SSL_set_connect_state(pSsl);
    }
    return pSsl;
}
