#pragma once

#include <optional>
#include <string>
#include <utility>

#include "dtls/CDtlsSettings.h"

namespace CLI {
class App;
}

// The DTLS options a fleet and a receiver share (--dtls, the key options,
// --dtls-ciphers, --dtls-no-park), plus a fleet's --dtls-retransmit or a
// receiver's --dtls-no-cookie, read into CDtlsSettings by one set of rules.
// The object must outlive the app's parsing. Main thread.
class CDtlsOptions {
public:
    enum class Side { kFleet, kReceiver };

    CDtlsOptions(CLI::App& app, CDtlsSettings& settings, Side nSide);
    CDtlsOptions(const CDtlsOptions&) = delete;
    CDtlsOptions& operator=(const CDtlsOptions&) = delete;

    // Whether --dtls was given.
    bool Any() const { return m_settings.bOn; }
    // Reads them once the app has parsed: the first broken rule as the
    // option and what is wrong (to follow "OPTION: "); none when all hold.
    std::optional<std::pair<const char*, std::string>> Read();

private:
    CDtlsSettings& m_settings;
    const Side m_nSide;
    std::optional<std::string> m_strCiphers;
    std::optional<std::string> m_strRetransmit;
    bool m_bNoCookie = false;
    bool m_bNoPark = false;
    // A key option given without --dtls.
    bool m_bKeys = false;
};
