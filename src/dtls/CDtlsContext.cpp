#include "dtls/CDtlsContext.h"

#include <filesystem>

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/error.h>
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/ssl_cookie.h>
#include <mbedtls/ssl_ticket.h>
#include <mbedtls/version.h>
#include <mbedtls/x509_crt.h>

#include "dtls/CDtlsClientConfig.h"

namespace {

// A ticket lets a device resume for a day.
constexpr uint32_t kTicketSeconds = 86400;

bool IsFolder(const std::string& strPath)
{
    std::error_code error;
    return std::filesystem::is_directory(strPath, error);
}

}  // namespace

std::string CDtlsContext::ErrorText(int nError)
{
    char text[160];
    mbedtls_strerror(nError, text, sizeof text);
    return text;
}

// The library's state a context owns: the random generator (safe for
// several threads: mbed TLS is built with its threading layer), a server's
// ticket and cookie keys, the certificates.
struct CDtlsContext::Library {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_ssl_ticket_context ticket;
    mbedtls_ssl_cookie_ctx cookie;
    mbedtls_x509_crt ca;
    mbedtls_x509_crt own;
    mbedtls_pk_context key;

    Library()
    {
        mbedtls_entropy_init(&entropy);
        mbedtls_ctr_drbg_init(&drbg);
        mbedtls_ssl_ticket_init(&ticket);
        mbedtls_ssl_cookie_init(&cookie);
        mbedtls_x509_crt_init(&ca);
        mbedtls_x509_crt_init(&own);
        mbedtls_pk_init(&key);
    }
    ~Library()
    {
        mbedtls_pk_free(&key);
        mbedtls_x509_crt_free(&own);
        mbedtls_x509_crt_free(&ca);
        mbedtls_ssl_cookie_free(&cookie);
        mbedtls_ssl_ticket_free(&ticket);
        mbedtls_ctr_drbg_free(&drbg);
        mbedtls_entropy_free(&entropy);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

// A server's look-up of the key a peer's identity names.
struct CDtlsCallbacks {
    static int ServerPsk(void* pContext, mbedtls_ssl_context* pSsl, const unsigned char* pIdentity, size_t nLength)
    {
        const CDtlsContext& context = *static_cast<const CDtlsContext*>(pContext);
        std::string strKey;
        if (!context.m_keys.ForIdentity(std::string_view(reinterpret_cast<const char*>(pIdentity), nLength), strKey))
            return -1;
        return mbedtls_ssl_set_hs_psk(pSsl, reinterpret_cast<const unsigned char*>(strKey.data()), strKey.size());
    }
};

CDtlsContext::CDtlsContext(const CDtlsSettings& settings, Role nRole)
    : m_settings(settings), m_nRole(nRole), m_pLibrary(std::make_unique<Library>())
{
}

CDtlsContext::~CDtlsContext()
{
    if (m_pConfig)
        mbedtls_ssl_config_free(m_pConfig.get());
}

int64_t CDtlsContext::LongestHandshakeNs() const
{
    int64_t nLongestNs = 0;
    int64_t nWaitNs = m_settings.nRetransmitNs;
    for (int i = 0; i <= CDtlsSettings::kMaxRetransmissions; ++i, nWaitNs *= 2)
        nLongestNs += nWaitNs;
    return nLongestNs;
}

std::string CDtlsContext::LibraryText()
{
    char version[32];
    mbedtls_version_get_string_full(version);
    return version;
}

std::vector<int> CDtlsContext::SuitesOf(unsigned nSuites)
{
    // AEAD suites first: only their sessions can be parked between
    // datagrams (CDtlsSession).
    std::vector<int> suites;
    if (nSuites & CDtlsSettings::kPsk)
        suites.insert(suites.end(), {MBEDTLS_TLS_PSK_WITH_AES_128_GCM_SHA256, MBEDTLS_TLS_PSK_WITH_AES_128_CCM_8,
                                     MBEDTLS_TLS_PSK_WITH_AES_128_CBC_SHA256});
    if (nSuites & CDtlsSettings::kEcdhePsk)
        suites.insert(suites.end(), {MBEDTLS_TLS_ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256,
                                     MBEDTLS_TLS_ECDHE_PSK_WITH_AES_128_CBC_SHA256});
    if (nSuites & CDtlsSettings::kEcdhe)
        suites.insert(suites.end(), {MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,
                                     MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
                                     MBEDTLS_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256});
    suites.push_back(0);
    return suites;
}

std::string CDtlsContext::SuitesText(const CDtlsSettings& settings)
{
    std::string strText;
    for (const int nSuite : SuitesOf(settings.Suites())) {
        if (nSuite != 0)
            strText += (strText.empty() ? "" : ":") + std::string(mbedtls_ssl_get_ciphersuite_name(nSuite));
    }
    return strText;
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
    if (!m_settings.strPskFile.empty()) {
        const CStatus loaded = CDtlsKeys::LoadFile(m_settings.strPskFile, m_keys);
        if (!loaded.IsOk())
            return loaded;
    } else if (!m_settings.strPskDerive.empty()) {
        const CStatus loaded = CDtlsKeys::LoadSecret(m_settings.strPskDerive, m_keys);
        if (!loaded.IsOk())
            return loaded;
    }
    m_suites = SuitesOf(m_settings.Suites());

    Library& library = *m_pLibrary;
    static const char kPersonal[] = "tovrik dtls";
    int nError = mbedtls_ctr_drbg_seed(&library.drbg, mbedtls_entropy_func, &library.entropy,
                                       reinterpret_cast<const unsigned char*>(kPersonal), sizeof kPersonal - 1);
    if (nError == 0 && m_nRole == Role::kServer) {
        nError = mbedtls_ssl_ticket_setup(&library.ticket, mbedtls_ctr_drbg_random, &library.drbg,
                                          MBEDTLS_CIPHER_AES_128_GCM, kTicketSeconds);
        if (nError == 0)
            nError = mbedtls_ssl_cookie_setup(&library.cookie, mbedtls_ctr_drbg_random, &library.drbg);
    }
    if (nError != 0)
        return CStatus::Error("cannot start DTLS: " + ErrorText(nError));
    if (!m_settings.strCert.empty()) {
        m_bCertFolder = m_nRole == Role::kClient && IsFolder(m_settings.strCert);
        if (m_bCertFolder && !IsFolder(m_settings.strKey))
            return CStatus::Invalid("--cert '" + m_settings.strCert + "' is a folder: --key must be one too");
        if (!m_bCertFolder) {
            nError = mbedtls_x509_crt_parse_file(&library.own, m_settings.strCert.c_str());
            if (nError == 0)
                nError = mbedtls_pk_parse_keyfile(&library.key, m_settings.strKey.c_str(), nullptr);
            if (nError != 0)
                return CStatus::Invalid("--cert/--key '" + m_settings.strCert + "', '" + m_settings.strKey +
                                        "': cannot be used: " + ErrorText(nError));
        }
    }
    if (!m_settings.strCa.empty()) {
        nError = mbedtls_x509_crt_parse_file(&library.ca, m_settings.strCa.c_str());
        if (nError != 0)
            return CStatus::Invalid("--ca '" + m_settings.strCa + "': cannot be read: " + ErrorText(nError));
    }
    m_pConfig = std::make_unique<mbedtls_ssl_config>();
    mbedtls_ssl_config_init(m_pConfig.get());
    Configure(*m_pConfig);
    if (!m_bCertFolder && !m_settings.strCert.empty()) {
        nError = mbedtls_ssl_conf_own_cert(m_pConfig.get(), &library.own, &library.key);
        if (nError != 0)
            return CStatus::Invalid("--cert '" + m_settings.strCert + "': " + ErrorText(nError));
    }
    return CStatus();
}

void CDtlsContext::Configure(mbedtls_ssl_config& config) const
{
    Library& library = *m_pLibrary;
    const bool bServer = m_nRole == Role::kServer;
    mbedtls_ssl_config_defaults(&config, bServer ? MBEDTLS_SSL_IS_SERVER : MBEDTLS_SSL_IS_CLIENT,
                                MBEDTLS_SSL_TRANSPORT_DATAGRAM, MBEDTLS_SSL_PRESET_DEFAULT);
    mbedtls_ssl_conf_rng(&config, mbedtls_ctr_drbg_random, &library.drbg);
    mbedtls_ssl_conf_min_version(&config, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
    mbedtls_ssl_conf_max_version(&config, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
    mbedtls_ssl_conf_ciphersuites(&config, m_suites.data());
    // The first retransmission after the settings' wait, each next after
    // twice the last; past kMaxRetransmissions the handshake fails.
    const auto nFirstMs = static_cast<uint32_t>(m_settings.nRetransmitNs / 1000000);
    mbedtls_ssl_conf_handshake_timeout(&config, nFirstMs, nFirstMs << CDtlsSettings::kMaxRetransmissions);
    if (!m_settings.strCa.empty()) {
        mbedtls_ssl_conf_ca_chain(&config, &library.ca, nullptr);
        mbedtls_ssl_conf_authmode(&config, MBEDTLS_SSL_VERIFY_REQUIRED);
    } else {
        mbedtls_ssl_conf_authmode(&config, MBEDTLS_SSL_VERIFY_NONE);
    }
    if (!bServer)
        return;
    if (m_settings.Psk())
        mbedtls_ssl_conf_psk_cb(&config, CDtlsCallbacks::ServerPsk, const_cast<CDtlsContext*>(this));
    // Devices come back with tickets: the server keeps no state for them.
    mbedtls_ssl_conf_session_tickets_cb(&config, mbedtls_ssl_ticket_write, mbedtls_ssl_ticket_parse, &library.ticket);
    if (m_settings.bCookie)
        mbedtls_ssl_conf_dtls_cookies(&config, mbedtls_ssl_cookie_write, mbedtls_ssl_cookie_check, &library.cookie);
    else
        mbedtls_ssl_conf_dtls_cookies(&config, nullptr, nullptr, nullptr);
}

bool CDtlsContext::ClientConfig(CDtlsClientConfig& own, const std::string& strIdentity, const std::string& strKey,
                                const std::string& strCertFile, const std::string& strKeyFile, int& nError) const
{
    mbedtls_ssl_config& config = own.Config();
    Configure(config);
    nError = 0;
    if (!strIdentity.empty()) {
        nError = mbedtls_ssl_conf_psk(&config, reinterpret_cast<const unsigned char*>(strKey.data()), strKey.size(),
                                      reinterpret_cast<const unsigned char*>(strIdentity.data()), strIdentity.size());
    } else if (!strCertFile.empty()) {
        nError = mbedtls_x509_crt_parse_file(&own.Cert(), strCertFile.c_str());
        if (nError == 0)
            nError = mbedtls_pk_parse_keyfile(&own.Key(), strKeyFile.c_str(), nullptr);
        if (nError == 0)
            nError = mbedtls_ssl_conf_own_cert(&config, &own.Cert(), &own.Key());
    } else if (!m_settings.strCert.empty()) {
        nError = mbedtls_ssl_conf_own_cert(&config, &m_pLibrary->own, &m_pLibrary->key);
    }
    return nError == 0;
}
