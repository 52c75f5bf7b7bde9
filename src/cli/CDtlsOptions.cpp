#include "cli/CDtlsOptions.h"

#include <CLI/CLI.hpp>

#include "text/CDuration.h"

namespace {

const char kGroup[] = "DTLS";

// The shortest and longest first retransmission wait.
constexpr int64_t kMinRetransmitNs = 50000000;
constexpr int64_t kMaxRetransmitNs = 60000000000;

}  // namespace

CDtlsOptions::CDtlsOptions(CLI::App& app, CDtlsSettings& settings, Side nSide) : m_settings(settings), m_nSide(nSide)
{
    const bool bFleet = nSide == Side::kFleet;
    app.add_flag("--dtls", settings.bOn,
                 bFleet ? "Each device talks DTLS 1.2 over its socket: a handshake before its device info message, "
                          "then its datagrams as records"
                        : "Take DTLS 1.2 sessions: each peer's handshake, then its records' datagrams")
        ->group(kGroup);
    app.add_option("--psk-file", settings.strPskFile,
                   bFleet ? "Pre-shared keys: lines IDENTITY KEY (hex), the identity a device's IMEI or its index "
                            "from 0"
                          : "Pre-shared keys: lines IDENTITY KEY (hex), by the identity a device names")
        ->group(kGroup);
    app.add_option("--psk-derive", settings.strPskDerive,
                   "Each device's key is HMAC-SHA256 of this file's secret (16 bytes or more) over its IMEI, the "
                   "identity")
        ->group(kGroup);
    app.add_option("--cert", settings.strCert,
                   bFleet ? "Certificate (PEM) every device shows, or a folder of IMEI.crt files"
                          : "The receiver's certificate (PEM)")
        ->group(kGroup);
    app.add_option("--key", settings.strKey,
                   bFleet ? "The certificate's private key (PEM), or a folder of IMEI.key files"
                          : "The certificate's private key (PEM)")
        ->group(kGroup);
    app.add_option("--ca", settings.strCa,
                   bFleet ? "Check the receiver's certificate against these CA certificates (PEM)"
                          : "Ask each device for a certificate and check it against these CA certificates (PEM)")
        ->group(kGroup);
    app.add_option("--dtls-ciphers", m_strCiphers,
                   "Suites offered, comma-separated: psk, ecdhe-psk, ecdhe (default: psk,ecdhe-psk with keys, ecdhe "
                   "with certificates)")
        ->group(kGroup);
    app.add_flag("--dtls-no-park", m_bNoPark,
                 "Keep each open session whole between datagrams: less CPU a datagram, some 35 KB a session "
                 "instead of some 200 bytes")
        ->group(kGroup);
    if (bFleet)
        app.add_option("--dtls-retransmit", m_strRetransmit,
                       "A handshake's first retransmission after this long (default 1s), each next after twice the "
                       "last; it fails after 4")
            ->group(kGroup);
    else
        app.add_flag("--dtls-no-cookie", m_bNoCookie,
                     "Answer a ClientHello at once, without the cookie exchange (HelloVerifyRequest)")
            ->group(kGroup);
}

std::optional<std::pair<const char*, std::string>> CDtlsOptions::Read()
{
    CDtlsSettings& settings = m_settings;
    const bool bKeys = !settings.strPskFile.empty() || !settings.strPskDerive.empty() || !settings.strCert.empty() ||
                       !settings.strKey.empty() || !settings.strCa.empty() || m_strCiphers || m_strRetransmit ||
                       m_bNoCookie || m_bNoPark;
    if (!settings.bOn)
        return bKeys ? std::optional<std::pair<const char*, std::string>>({"--dtls", "the DTLS options need --dtls"})
                     : std::nullopt;
    if (m_strCiphers) {
        const CStatus read = CDtlsSettings::ParseCiphers(*m_strCiphers, settings.nSuites);
        if (!read.IsOk())
            return std::make_pair("--dtls-ciphers", read.Message());
    }
    if (m_strRetransmit) {
        int64_t nNs = 0;
        if (!CDuration::Read(*m_strRetransmit, nNs) || nNs < kMinRetransmitNs || nNs > kMaxRetransmitNs)
            return std::make_pair("--dtls-retransmit",
                                  "'" + *m_strRetransmit + "' is not a duration from 50ms to 60s");
        settings.nRetransmitNs = nNs;
    }
    settings.bCookie = !m_bNoCookie;
    settings.bPark = !m_bNoPark;
    const CStatus checked = settings.Check(m_nSide == Side::kReceiver);
    if (!checked.IsOk())
        return std::make_pair("--dtls", checked.Message());
    return std::nullopt;
}
