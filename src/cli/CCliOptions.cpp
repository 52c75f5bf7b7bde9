#include "cli/CCliOptions.h"

#include <CLI/CLI.hpp>

#include <iostream>

#include "TovrikVersion.h"
#include "capture/CCaptureReader.h"
#include "cli/CReportCommand.h"
#include "net/CTargetAddress.h"
#include "schedule/SendModes.h"
#include "text/CDecimal.h"

namespace {

// The longest run --stop-after takes, in seconds: a hundred years, well
// inside what a clock's duration can count.
constexpr double kMaxStopAfter = 100.0 * 365.25 * 86400.0;

// The port as the window's port box takes it: decimal digits only, leading
// zeros allowed, 0 to 65535.
std::string CheckPort(const std::string& strText, int& nPort)
{
    uint64_t nValue = 0;
    if (!CDecimal::Read(strText, 65535, nValue))
        return "'" + strText + "' is not a port (decimal digits, 0 to 65535)";
    nPort = static_cast<int>(nValue);
    return std::string();
}

std::string CheckStopAfter(const std::string& strText, double& dSeconds)
{
    const std::string strBad = "'" + strText + "' is not a number of seconds above 0 (at most 100 years)";
    return CDecimal::ReadPositive(strText, kMaxStopAfter, dSeconds) ? std::string() : strBad;
}

// The capture options go with an imported capture only, and the capture's
// timing replaces the mode's.
void CheckCaptureOptions(const CLI::App& app, const CCliOptions& options)
{
    const bool bCaptureOption = options.strCaptureFilter || options.bCaptureTime || options.fleet.bBySource;
    if (bCaptureOption && (!options.strImport || !CCaptureReader::IsCapture(*options.strImport))) {
        const std::string strOption = options.strCaptureFilter ? "--capture-filter"
                                      : options.bCaptureTime  ? "--capture-time"
                                                              : "--devices by-source";
        throw CLI::ValidationError(strOption, "needs --import of a packet capture (pcap or pcapng)" +
                                                  (options.strImport ? ", which '" + *options.strImport + "' is not"
                                                                     : std::string()));
    }
    if (app.count("--speed") > 0 && !options.bCaptureTime)
        throw CLI::ValidationError("--speed", "goes with --capture-time only");
    if (options.bCaptureTime && app.count("--mode") > 0)
        throw CLI::ValidationError("--capture-time", "replaces the send mode: it does not go with -m");
    if (options.bCaptureTime && options.fleet.bSpread)
        throw CLI::ValidationError("--spread", "does not go with --capture-time");
    if (options.bCaptureTime && app.count("--ramp") > 0)
        throw CLI::ValidationError("--ramp", "does not go with --capture-time");
}

// A numeric address or a host name, which is looked up at every send; an
// IPv6 address may come in brackets, which are taken off here.
std::string CheckTarget(std::string& strText)
{
    const std::string strBad = "'" + strText + "' is not an IPv4 or IPv6 address or host name";
    std::string strHost;
    if (strText.empty() || !CTargetAddress::StripBrackets(strText, strHost))
        return strBad;
    for (const char c : strHost) {
        if (static_cast<unsigned char>(c) <= ' ')
            return strBad;
    }
    if (strHost.find(':') != std::string::npos && CTargetAddress::LiteralFamily(strHost) != AF_INET6)
        return strBad;
    strText = strHost;
    return std::string();
}

}  // namespace

std::string CCliOptions::RefusalOf(const sockaddr_storage& target) const
{
    if (bBroadcast && target.ss_family == AF_INET6)
        return "--broadcast: IPv6 has no broadcast; '" + strTarget + "' is an IPv6 address";
    if (!bBroadcast && CTargetAddress::IsBroadcast(target))
        return "'" + strTarget + "' is a broadcast address: add --broadcast to send to it";
    return std::string();
}

int CCliOptions::ModeFromText(const std::string& strText)
{
    for (const SendModes::Info& mode : SendModes::kModes) {
        if (strText == mode.pszName || strText == std::to_string(mode.nMode))
            return mode.nMode;
    }
    return -1;
}

CCliOptions CCliOptions::Parse(int argc, char** argv, std::optional<int>& nExit)
{
    CCliOptions options;
    std::string strMode = "0";
    std::string strPort = std::to_string(options.nPort);
    std::string strStopAfter;
    bool bNoLoop = false;
    bool bNoModifyTime = false;

    CLI::App app{"Stands in for a field device: sends JSON device messages, one per UDP datagram.", "tovrik-cli"};
    // "/path" is a file name on every platform, not a Windows-style option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("tovrik-cli ") + TovrikVersion::kText);
    app.footer(std::string("Reports: tovrik-cli ") + CReportCommand::kName +
               " STATS.json... -o REPORT.html merges fleet runs' --stats-json files into one HTML page.");
    app.add_option("-t,--target", options.strTarget, "Target IPv4 or IPv6 address ([::1] too) or host name")
        ->transform(CLI::Validator([](std::string& strValue) { return CheckTarget(strValue); }, "ADDR"))
        ->capture_default_str();
    bool bIpv4 = false;
    bool bIpv6 = false;
    auto* pIpv4 = app.add_flag("-4", bIpv4, "Resolve the target's name to an IPv4 address");
    app.add_flag("-6", bIpv6, "Resolve the target's name to an IPv6 address")->excludes(pIpv4);
    app.add_flag("--broadcast", options.bBroadcast, "Allow an IPv4 broadcast target (SO_BROADCAST)");
    app.add_option("-p,--port", strPort, "Target UDP port (0-65535)")
        ->check(CLI::Validator(
            [&options](std::string& strValue) { return CheckPort(strValue, options.nPort); }, "PORT"))
        ->capture_default_str();
    std::string strModes;
    for (const SendModes::Info& mode : SendModes::kModes)
        strModes += std::string(strModes.empty() ? "" : ", ") + mode.pszName;
    app.add_option("-m,--mode", strMode, "Send mode: 0-6 or " + strModes)
        ->check(CLI::Validator(
            [](std::string& strValue) {
                return ModeFromText(strValue) < 0 ? std::string("unknown mode '") + strValue + "'" : std::string();
            },
            "MODE"))
        ->capture_default_str();
    app.add_flag("--no-loop", bNoLoop, "Send the packets once instead of in a loop");
    app.add_flag("--no-modify-time", bNoModifyTime, "Send the packets as cut, without a fresh \"time\"");
    app.add_flag("--hex", options.bHex, "The text is hexadecimal digits spelling the bytes");
    auto* pText = app.add_option("--text", options.strText, "The messages to send (default: the status message)");
    auto* pTextFile = app.add_option("--text-file", options.strTextFile, "Read the messages to send from a file");
    auto* pImport = app.add_option("--import", options.strImport, "Import a message file (as the import button)");
    pText->excludes(pTextFile)->excludes(pImport);
    pTextFile->excludes(pImport);
    app.add_option("--capture-filter", options.strCaptureFilter,
                   "An imported capture's datagrams to send, in libpcap's filter syntax (e.g. 'udp dst port 51609')");
    app.add_flag("--capture-time", options.bCaptureTime,
                 "Send an imported capture by its own timestamps (the first datagram 100 ms after the start), once");
    app.add_option("--speed", options.dSpeed, "With --capture-time: divide the capture's gaps by this (0.1 to 100)")
        ->check(CLI::Range(0.1, 100.0));
    app.add_option("--stop-after", strStopAfter, "Stop after this many seconds")
        ->check(CLI::Validator(
            [&options](std::string& strValue) {
                double dSeconds = 0;
                const std::string strError = CheckStopAfter(strValue, dSeconds);
                if (strError.empty())
                    options.dStopAfter = dSeconds;
                return strError;
            },
            "SECONDS"));
    app.add_flag("--dry-run", options.bDryRun, "Load and report, send nothing");
    app.add_flag("-q,--quiet", options.bQuiet, "No line per datagram and no summary");
    CFleetOptions::AddTo(app, options.fleet, strMode, options.strImport, options.bCaptureTime);

    try {
        app.parse(argc, argv);
        CheckCaptureOptions(app, options);
        options.nFamily = bIpv4 ? AF_INET : bIpv6 ? AF_INET6 : AF_UNSPEC;
        const int nLiteral = CTargetAddress::LiteralFamily(options.strTarget);
        if (options.nFamily != AF_UNSPEC && nLiteral != AF_UNSPEC && nLiteral != options.nFamily)
            throw CLI::ValidationError(bIpv4 ? "-4" : "-6", "'" + options.strTarget + "' is an " +
                                                                CTargetAddress::FamilyName(nLiteral) + " address");
    } catch (const CLI::CallForHelp& e) {
        nExit = app.exit(e);
        return options;
    } catch (const CLI::CallForVersion& e) {
        nExit = app.exit(e);
        return options;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        nExit = kExitUsage;
        return options;
    }
    options.nMode = ModeFromText(strMode);
    options.commandLine.assign(argv, argv + argc);
    options.bLoop = !bNoLoop;
    options.bModifyTime = !bNoModifyTime;
    // The capture's timing is the fleet engine's; one device runs as a fleet
    // of one that, as one device does, sends the messages as imported.
    options.fleet.bKeepImei = options.bCaptureTime && !options.fleet.bFleet;
    options.fleet.bFleet = options.fleet.bFleet || options.bCaptureTime;
    return options;
}
