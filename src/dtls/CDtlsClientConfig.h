#pragma once

#include <memory>

struct mbedtls_ssl_config;
struct mbedtls_x509_crt;
struct mbedtls_pk_context;

// One client session's own mbed TLS configuration while it handshakes: the
// context's shared settings with the device's pre-shared key or its own
// certificate (mbed TLS keeps a client's key in the configuration). Filled
// by CDtlsContext::ClientConfig; one thread at a time.
class CDtlsClientConfig {
public:
    CDtlsClientConfig();
    ~CDtlsClientConfig();
    CDtlsClientConfig(const CDtlsClientConfig&) = delete;
    CDtlsClientConfig& operator=(const CDtlsClientConfig&) = delete;

    mbedtls_ssl_config& Config() { return *m_pConfig; }
    mbedtls_x509_crt& Cert() { return *m_pCert; }
    mbedtls_pk_context& Key() { return *m_pKey; }

private:
    std::unique_ptr<mbedtls_ssl_config> m_pConfig;
    std::unique_ptr<mbedtls_x509_crt> m_pCert;
    std::unique_ptr<mbedtls_pk_context> m_pKey;
};
