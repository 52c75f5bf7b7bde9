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
