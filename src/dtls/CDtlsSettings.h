#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/CStatus.h"

// How a fleet's devices or a receiver talk DTLS 1.2: where the keys come from
// (a key file, a derivation secret, or certificates), the cipher suites
// offered, the first retransmission's wait and, for a server, the cookie
// exchange. A front end fills it in; a plain value.
struct CDtlsSettings {
    // The suites a --dtls-ciphers name stands for.
    enum Suite : unsigned { kPsk = 1, kEcdhePsk = 2, kEcdhe = 4 };
    static constexpr int64_t kDefaultRetransmitNs = 1000000000;
    // A handshake that has retransmitted this often and still waits fails
    // (with the first wait of a second, after 31 seconds).
    static constexpr int kMaxRetransmissions = 4;

    bool bOn = false;
    std::string strPskFile;
    std::string strPskDerive;
    // A certificate file, or for a fleet a folder of IMEI.crt and IMEI.key.
    std::string strCert;
    std::string strKey;
    std::string strCa;  // verify the peer's certificate against it
    // 0: the key source's (PSK or ECDHE-PSK with keys, ECDHE with
    // certificates).
    unsigned nSuites = 0;
    // The first retransmission's wait; it doubles each time.
    int64_t nRetransmitNs = kDefaultRetransmitNs;
    bool bCookie = true;  // a server's HelloVerifyRequest
    // Park open sessions between datagrams (CDtlsSession): some 200 bytes
    // a session instead of some 35 KB, for some 20 to 40 us a datagram.
    bool bPark = true;

    // "psk", "ecdhe-psk", "ecdhe", comma-separated.
    [[nodiscard]] static CStatus ParseCiphers(std::string_view text, unsigned& nSuites);
    bool Psk() const { return !strPskFile.empty() || !strPskDerive.empty(); }
    // One key source, and suites it can serve; bServer: a receiver's
    // (certificates are its own, not a folder).
    [[nodiscard]] CStatus Check(bool bServer) const;
    unsigned Suites() const;
};
