#include "dtls/CDtlsClientConfig.h"

#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

CDtlsClientConfig::CDtlsClientConfig()
    : m_pConfig(std::make_unique<mbedtls_ssl_config>()),
      m_pCert(std::make_unique<mbedtls_x509_crt>()),
      m_pKey(std::make_unique<mbedtls_pk_context>())
{
    mbedtls_ssl_config_init(m_pConfig.get());
    mbedtls_x509_crt_init(m_pCert.get());
    mbedtls_pk_init(m_pKey.get());
}

CDtlsClientConfig::~CDtlsClientConfig()
{
    mbedtls_ssl_config_free(m_pConfig.get());
    mbedtls_x509_crt_free(m_pCert.get());
    mbedtls_pk_free(m_pKey.get());
}
