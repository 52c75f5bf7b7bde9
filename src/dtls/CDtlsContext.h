#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/CStatus.h"
#include "dtls/CDtlsKeys.h"
#include "dtls/CDtlsSettings.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct bio_method_st BIO_METHOD;

// What every DTLS session of a fleet or of a receiver shares: the library's
// context with the suites, the keys (pre-shared: a client asks its session's
// link, a server looks the peer's identity up in the key file or derives
// it), the certificates, the retransmission timer and a server's cookie
// secret. Made once before the sessions, read-only after: any thread.
class CDtlsContext {
public:
    enum class Role { kClient, kServer };

    // Reads the keys and certificates the settings name; a usage error that
    // names what is wrong (never a key) otherwise.
    [[nodiscard]] static CStatus Create(const CDtlsSettings& settings, Role nRole,
                                        std::unique_ptr<CDtlsContext>& pContext);
    ~CDtlsContext();
    CDtlsContext(const CDtlsContext&) = delete;
    CDtlsContext& operator=(const CDtlsContext&) = delete;

    const CDtlsSettings& Settings() const { return m_settings; }
    const CDtlsKeys& Keys() const { return m_keys; }
    Role GetRole() const { return m_nRole; }
    // Each device its own certificate from a folder (by IMEI).
    bool CertFolder() const { return m_bCertFolder; }
    // The library and its version, for the summary and the README's figures.
    static std::string LibraryText();

    // A new SSL for a session, its datagram BIO set; null on failure.
    SSL* NewSsl(void* pSession);

private:
    CDtlsContext(const CDtlsSettings& settings, Role nRole);
    CStatus Load();

    const CDtlsSettings m_settings;
    const Role m_nRole;
    CDtlsKeys m_keys;
    bool m_bCertFolder = false;
    SSL_CTX* m_pCtx = nullptr;
    BIO_METHOD* m_pBio = nullptr;
    std::string m_strCookieSecret;

    friend struct CDtlsCallbacks;
};
