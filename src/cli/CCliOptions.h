#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/CFleetOptions.h"
#include "net/SocketTypes.h"
#include "text/TovrikTexts.h"

// The command line of tovrik-cli, parsed.
struct CCliOptions {
    // A numeric address (an IPv6 one without brackets) or a host name.
    std::string strTarget = TovrikTexts::kDefaultTarget;
    // -4 (AF_INET), -6 (AF_INET6), else AF_UNSPEC: the resolver's first.
    int nFamily = AF_UNSPEC;
    bool bBroadcast = false;
    int nPort = TovrikTexts::kDefaultPort;
    int nMode = 0;
    bool bLoop = true;
    bool bModifyTime = true;
    bool bHex = false;
    std::optional<std::string> strText;
    std::optional<std::string> strTextFile;
    std::optional<std::string> strImport;
    // An imported capture: libpcap's filter for its frames, and its own
    // timing scaled by dSpeed instead of the mode's.
    std::optional<std::string> strCaptureFilter;
    bool bCaptureTime = false;
    double dSpeed = 1.0;
    std::optional<double> dStopAfter;
    bool bDryRun = false;
    bool bQuiet = false;
    CFleetOptions fleet;
    // The arguments as given, the program's name first, for the records a
    // run writes of itself.
    std::vector<std::string> commandLine;

    // Exit codes.
    static constexpr int kExitOk = 0;
    static constexpr int kExitFailure = 1;
    static constexpr int kExitLoad = 2;
    // A threshold crossed, or every datagram tried could not be sent.
    static constexpr int kExitCrossed = 3;
    static constexpr int kExitUsage = 64;

    // Parses argv. On --help or --version, or a usage error, prints what is
    // due and sets nExit; otherwise nExit stays empty and the run goes on.
    static CCliOptions Parse(int argc, char** argv, std::optional<int>& nExit);
    // Why the resolved target may not be sent to (a broadcast address
    // without --broadcast, --broadcast with IPv6); empty when it may.
    std::string RefusalOf(const sockaddr_storage& target) const;
    // "0".."6" or a mode's name; -1 when neither.
    static int ModeFromText(const std::string& strText);
};
