#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/CStatus.h"

// Where pre-shared keys come from: a key file, a line "IDENTITY KEY" per
// device (the key in hex, the identity a device's IMEI or its index in the
// fleet from 0), or one secret that every device's key is derived from
// (HMAC-SHA256 of the secret over the IMEI, the IMEI being the identity), so
// that a million devices need no file and a server derives the same keys.
// Keys are never part of a message. A plain value once loaded; any thread may
// read it.
class CDtlsKeys {
public:
    // mbed TLS takes pre-shared keys of up to MBEDTLS_PSK_MAX_LEN (32)
    // bytes; a line's key at most this.
    static constexpr size_t kMaxKeyBytes = 32;
    static constexpr size_t kMaxIdentityBytes = 128;
    // A derivation secret shorter than this is refused: it would be guessed.
    static constexpr size_t kMinSecretBytes = 16;

    // A key file's text; strWhere names the file in the messages, which name
    // the line (blank lines and lines from '#' on are skipped).
    [[nodiscard]] static CStatus ParseFile(std::string_view text, const std::string& strWhere, CDtlsKeys& keys);
    // A secret file's text: its bytes, a last line end left out.
    [[nodiscard]] static CStatus ParseSecret(std::string_view text, const std::string& strWhere, CDtlsKeys& keys);
    // The same, read from a file.
    [[nodiscard]] static CStatus LoadFile(const std::string& strPath, CDtlsKeys& keys);
    [[nodiscard]] static CStatus LoadSecret(const std::string& strPath, CDtlsKeys& keys);

    // A device's identity and key: its IMEI's line, else its index's; the
    // derived key with the IMEI as identity. False when the file has neither.
    bool ForDevice(const std::string& strImei, uint64_t nIndex, std::string& strIdentity, std::string& strKey) const;
    // The key of an identity a peer names (a server's view).
    bool ForIdentity(std::string_view identity, std::string& strKey) const;
    bool Derived() const { return !m_strSecret.empty(); }
    size_t Size() const { return m_keys.size(); }

    // HMAC-SHA256 of strSecret over strImei: 32 bytes.
    static std::string Derive(const std::string& strSecret, std::string_view imei);

private:
    std::unordered_map<std::string, std::string> m_keys;
    std::string m_strSecret;
};
