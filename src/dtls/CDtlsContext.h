#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "dtls/CDtlsKeys.h"
#include "dtls/CDtlsSettings.h"

class CDtlsClientConfig;
struct mbedtls_ssl_config;

// What every DTLS session of a fleet or of a receiver shares, on mbed TLS:
// the configuration with the suites, the retransmission waits and the
// random generator; the keys (pre-shared: a client's session is set up with
// its device's key, a server looks the peer's identity up in the key file
// or derives it), the certificates; a server's cookie and ticket keys. Made
// once before the sessions, read-only after: any thread.
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
    // The longest a handshake may take: every retransmission's wait.
    int64_t LongestHandshakeNs() const;
    const CDtlsKeys& Keys() const { return m_keys; }
    Role GetRole() const { return m_nRole; }
    // Each device its own certificate from a folder (by IMEI).
    bool CertFolder() const { return m_bCertFolder; }
    // The library and its version; the suites offered, by name.
    static std::string LibraryText();
    // The library's words for one of its error codes.
    static std::string ErrorText(int nError);
    // The suites the settings offer, by name, in the order offered.
    static std::string SuitesText(const CDtlsSettings& settings);

    // The shared configuration: a server's sessions, and every session
    // once established.
    const mbedtls_ssl_config* Config() const { return m_pConfig.get(); }
    // A client's configuration for one handshake: the shared settings with
    // its device's pre-shared key, or its certificate and key files; false,
    // with the library's error code, when they cannot be used.
    bool ClientConfig(CDtlsClientConfig& config, const std::string& strIdentity, const std::string& strKey,
                      const std::string& strCertFile, const std::string& strKeyFile, int& nError) const;

private:
    struct Library;

    CDtlsContext(const CDtlsSettings& settings, Role nRole);
    CStatus Load();
    // The suites' numbers, ended by 0.
    static std::vector<int> SuitesOf(unsigned nSuites);
    // The settings every configuration shares.
    void Configure(mbedtls_ssl_config& config) const;

    const CDtlsSettings m_settings;
    const Role m_nRole;
    CDtlsKeys m_keys;
    bool m_bCertFolder = false;
    std::vector<int> m_suites;
    std::unique_ptr<Library> m_pLibrary;
    std::unique_ptr<mbedtls_ssl_config> m_pConfig;

    friend struct CDtlsCallbacks;
};
