#include "dtls/CDtlsSettings.h"

CStatus CDtlsSettings::ParseCiphers(std::string_view text, unsigned& nSuites)
{
    nSuites = 0;
    while (true) {
        const size_t nComma = text.find(',');
        const std::string_view name = text.substr(0, nComma);
        if (name == "psk")
            nSuites |= kPsk;
        else if (name == "ecdhe-psk")
            nSuites |= kEcdhePsk;
        else if (name == "ecdhe")
            nSuites |= kEcdhe;
        else
            return CStatus::Invalid("--dtls-ciphers: '" + std::string(name) +
                                    "' is none of psk, ecdhe-psk, ecdhe");
        if (nComma == std::string_view::npos)
            return CStatus();
        text.remove_prefix(nComma + 1);
    }
}

CStatus CDtlsSettings::Check(bool bServer) const
{
    const bool bCert = !strCert.empty() || !strKey.empty();
    const int nSources = (strPskFile.empty() ? 0 : 1) + (strPskDerive.empty() ? 0 : 1) + (bCert ? 1 : 0);
    if (nSources == 0)
        return CStatus::Invalid("needs keys: --psk-file, --psk-derive, or --cert and --key");
    if (nSources > 1)
        return CStatus::Invalid("--psk-file, --psk-derive and --cert are each a source of keys: give one of them");
    if (bCert && (strCert.empty() || strKey.empty()))
        return CStatus::Invalid("--cert and --key go together");
    const unsigned nChosen = Suites();
    if (bCert && (nChosen & kEcdhe) == 0)
        return CStatus::Invalid("--dtls-ciphers: certificates need ecdhe among the suites");
    if (Psk() && (nChosen & (kPsk | kEcdhePsk)) == 0)
        return CStatus::Invalid("--dtls-ciphers: pre-shared keys need psk or ecdhe-psk among the suites");
    if (bServer && !strCa.empty() && !bCert)
        return CStatus::Invalid("--ca checks the devices' certificates: the receiver needs its own --cert");
    return CStatus();
}

unsigned CDtlsSettings::Suites() const
{
    if (nSuites != 0)
        return nSuites;
    return Psk() ? kPsk | kEcdhePsk : kEcdhe;
}

std::string CDtlsSettings::CipherList() const
{
    std::string strList;
    const auto add = [&strList](const char* pszCiphers) {
        strList += (strList.empty() ? "" : ":") + std::string(pszCiphers);
    };
    const unsigned nChosen = Suites();
    if (nChosen & kPsk)
        add("PSK-AES128-GCM-SHA256:PSK-AES128-CCM8:PSK-AES128-CBC-SHA256");
    if (nChosen & kEcdhePsk)
        add("ECDHE-PSK-AES128-CBC-SHA256:ECDHE-PSK-CHACHA20-POLY1305");
    if (nChosen & kEcdhe)
        add("ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-CHACHA20-POLY1305");
    return strList;
}
