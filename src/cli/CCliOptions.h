#pragma once

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/CFleetOptions.h"
#include "fleet/CFleetConfig.h"
#include "input/CMessageSource.h"
#include "net/SocketTypes.h"
#include "schedule/SendModes.h"
#include "text/TovrikTexts.h"

// The command line of tovrik-cli, parsed: what one device and a fleet share
// here, the fleet's own options in fleet.
struct CCliOptions {
    CMessageSource source;
    // A numeric address (an IPv6 one without brackets) or a host name.
    std::string strTarget = TovrikTexts::kDefaultTarget;
    // -4 (AF_INET), -6 (AF_INET6), else AF_UNSPEC: the resolver's first.
    int nFamily = AF_UNSPEC;
    bool bBroadcast = false;
    int nPort = TovrikTexts::kDefaultPort;
    SendModes::Mode nMode = SendModes::kEverySecond;
    bool bLoop = true;
    bool bModifyTime = true;
    // An imported capture's own timing, scaled by dSpeed, instead of the
    // mode's.
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
    // A capacity search that could not answer: the fleet itself fell behind.
    static constexpr int kExitUndecided = 2;
    static constexpr int kExitUsage = 64;

    // Parses argv. On --help or --version, or a usage error, writes what is
    // due to out or err and sets nExit; otherwise nExit stays empty and the
    // run goes on.
    static CCliOptions Parse(int argc, char** argv, std::optional<int>& nExit, std::ostream& out = std::cout,
                             std::ostream& err = std::cerr);
    // --stop-after's seconds: what is wrong (after "OPTION: "), or nothing.
    static std::string CheckStopAfter(const std::string& strText, std::optional<double>& dStopAfter);
    // "0".."6" or a mode's name; none when neither.
    static std::optional<SendModes::Mode> ModeFromText(const std::string& strText);

    // Whether a fleet run is asked for (a fleet option, more than one
    // device, or a capture's own timing), and the config of that run.
    bool IsFleet() const { return fleet.bFleet; }
    CFleetConfig FleetConfig() const;
};
