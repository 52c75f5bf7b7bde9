#include "cli/CCliOptions.h"

#include <CLI/CLI.hpp>

#include "TovrikVersion.h"
#include "capture/CCaptureReader.h"
#include "cli/CReceiveCommand.h"
#include "cli/CReportCommand.h"
#include "cli/CTrafficOptions.h"
#include "net/CTargetAddress.h"
#include "text/CDecimal.h"
#include "text/CDuration.h"

namespace {

// The longest run --stop-after takes: a hundred years, well inside what a
// clock's duration can count.
constexpr int64_t kMaxStopAfterNs = int64_t{100} * 36525 / 100 * 86400 * CDuration::kNsPerSecond;

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

// What the rules of options that go together read: the options, and which
// were given.
struct Given {
    const CCliOptions& options;
    const std::string& strMode;
    bool bSpeed;
    bool bMode;
    bool bRamp;
    bool bIpv4;
    bool bIpv6;
};

// What an option that goes with a packet capture only says when the import
// is not one; nothing when it is.
std::string NeedsCapture(const Given& given)
{
    const CCliOptions& options = given.options;
    if (options.source.IsCapture())
        return std::string();
    const std::optional<std::string>& strImport = options.source.strImport;
    return "needs --import of a packet capture (pcap or pcapng)" +
           (strImport ? ", which '" + *strImport + "' is not" : std::string());
}

std::string Unless(bool bKept, const char* pszWrong)
{
    return bKept ? std::string() : std::string(pszWrong);
}

// A rule of options that go together: the option it is about, and what is
// wrong (after "OPTION: "), or nothing.
struct Rule {
    const char* pszOption;
    std::string (*check)(const Given& given);
};

// In the order they are checked: the first broken rule is the one said.
const Rule kRules[] = {
    {"--capture-filter",
     [](const Given& g) { return g.options.source.strCaptureFilter ? NeedsCapture(g) : std::string(); }},
    {"--capture-time", [](const Given& g) { return g.options.bCaptureTime ? NeedsCapture(g) : std::string(); }},
    {"--devices by-source",
     [](const Given& g) { return g.options.fleet.config.plan.bBySource ? NeedsCapture(g) : std::string(); }},
    {"--speed",
     [](const Given& g) { return Unless(!g.bSpeed || g.options.bCaptureTime, "goes with --capture-time only"); }},
    {"--capture-time",
     [](const Given& g) {
         return Unless(!g.options.bCaptureTime || !g.bMode, "replaces the send mode: it does not go with -m");
     }},
    {"--spread",
     [](const Given& g) {
         return Unless(!g.options.bCaptureTime || !g.options.fleet.config.bSpread, "does not go with --capture-time");
     }},
    {"--ramp",
     [](const Given& g) { return Unless(!g.options.bCaptureTime || !g.bRamp, "does not go with --capture-time"); }},
    {"--interval",
     [](const Given& g) {
         const bool bTimed = !g.options.bCaptureTime && CCliOptions::ModeFromText(g.strMode) != SendModes::kReplay;
         return Unless(!g.options.fleet.config.interval || bTimed,
                       "does not go with -m replay or --capture-time, whose messages keep their own times");
     }},
    {"--find-capacity",
     [](const Given& g) {
         return Unless(!g.options.fleet.config.capacity || (!g.bMode && !g.options.bCaptureTime),
                       "sets the rate itself: it does not go with -m or --capture-time");
     }},
    {"--rate",
     [](const Given& g) {
         const CFleetConfig& config = g.options.fleet.config;
         return Unless(!config.dRate || (!config.interval && !g.bMode && !g.options.bCaptureTime),
                       "sets the devices' intervals itself: it does not go with --interval, -m or --capture-time");
     }},
    {"-4",
     [](const Given& g) {
         const bool bOther = g.bIpv4 && CTargetAddress::LiteralFamily(g.options.strTarget) == AF_INET6;
         return bOther ? "'" + g.options.strTarget + "' is an IPv6 address" : std::string();
     }},
    {"-6",
     [](const Given& g) {
         const bool bOther = g.bIpv6 && CTargetAddress::LiteralFamily(g.options.strTarget) == AF_INET;
         return bOther ? "'" + g.options.strTarget + "' is an IPv4 address" : std::string();
     }},
};

void CheckRules(const Given& given)
{
    for (const Rule& rule : kRules) {
        const std::string strWrong = rule.check(given);
        if (!strWrong.empty())
            throw CLI::ValidationError(rule.pszOption, strWrong);
    }
}

std::string ModeNames()
{
    std::string strModes;
    for (const SendModes::Info& mode : SendModes::kModes)
        strModes += std::string(strModes.empty() ? "" : ", ") + mode.pszName;
    return strModes;
}

// The options of the target and of the messages.
void AddTargetOptions(CLI::App& app, CCliOptions& options, std::string& strPort, bool& bIpv4, bool& bIpv6)
{
    app.add_option("-t,--target", options.strTarget, "Target IPv4 or IPv6 address ([::1] too) or host name")
        ->transform(CLI::Validator([](std::string& strValue) { return CheckTarget(strValue); }, "ADDR"))
        ->capture_default_str();
    auto* pIpv4 = app.add_flag("-4", bIpv4, "Resolve the target's name to an IPv4 address");
    app.add_flag("-6", bIpv6, "Resolve the target's name to an IPv6 address")->excludes(pIpv4);
    app.add_flag("--broadcast", options.bBroadcast, "Allow an IPv4 broadcast target (SO_BROADCAST)");
    app.add_option("-p,--port", strPort, "Target UDP port (0-65535)")
        ->check(CLI::Validator(
            [&options](std::string& strValue) { return CheckPort(strValue, options.nPort); }, "PORT"))
        ->capture_default_str();
}

void AddMessageOptions(CLI::App& app, CCliOptions& options, std::string& strMode, bool& bNoLoop,
                       bool& bNoModifyTime)
{
    app.add_option("-m,--mode", strMode, "Send mode: 0-6 or " + ModeNames())
        ->check(CLI::Validator(
            [](std::string& strValue) {
                return CCliOptions::ModeFromText(strValue) ? std::string()
                                                           : std::string("unknown mode '") + strValue + "'";
            },
            "MODE"))
        ->capture_default_str();
    app.add_flag("--no-loop", bNoLoop, "Send the packets once instead of in a loop");
    app.add_flag("--no-modify-time", bNoModifyTime, "Send the packets as cut, without a fresh \"time\"");
    CMessageSource& source = options.source;
    app.add_flag("--hex", source.bHex, "The text is hexadecimal digits spelling the bytes");
    auto* pText = app.add_option("--text", source.strText, "The messages to send (default: the status message)");
    auto* pTextFile = app.add_option("--text-file", source.strTextFile, "Read the messages to send from a file");
    auto* pImport = app.add_option("--import", source.strImport, "Import a message file (as the import button)");
    pText->excludes(pTextFile)->excludes(pImport);
    pTextFile->excludes(pImport);
    // Where this build reads no captures, the help says so where it is read.
    const std::string strLinuxOnly = CCaptureReader::Available() ? "" : " (Linux only: this build reads no captures)";
    app.add_option("--capture-filter", source.strCaptureFilter,
                   "An imported capture's datagrams to send, in libpcap's filter syntax (e.g. 'udp dst port 51609')" +
                       strLinuxOnly);
    app.add_flag("--capture-time", options.bCaptureTime,
                 "Send an imported capture by its own timestamps (the first datagram 100 ms after the start), once" +
                     strLinuxOnly);
    app.add_option("--speed", options.dSpeed,
                   "With --capture-time: divide the capture's gaps by this (0.1 to 100)" + strLinuxOnly)
        ->check(CLI::Range(0.1, 100.0));
}

void AddRunOptions(CLI::App& app, CCliOptions& options, std::string& strStopAfter)
{
    app.add_option("--stop-after", strStopAfter, "Stop after this long (90s, 10min; a number alone is seconds)")
        ->check(CLI::Validator(
            [&options](std::string& strValue) {
                return CCliOptions::CheckStopAfter(strValue, options.dStopAfter);
            },
            "SECONDS"));
    app.add_flag("--dry-run", options.bDryRun, "Load and check as a run would, send nothing");
    app.add_flag("-q,--quiet", options.bQuiet, "No line per datagram and no summary");
}

}  // namespace

std::string CCliOptions::CheckStopAfter(const std::string& strText, std::optional<double>& dStopAfter)
{
    int64_t nNs = 0;
    if (!CDuration::ReadSeconds(strText, 1, kMaxStopAfterNs, nNs))
        return "'" + strText + "' is not a duration above 0 (at most 100 years): " + CDuration::Form() +
               ", or a number of seconds";
    dStopAfter = static_cast<double>(nNs) / 1e9;
    return std::string();
}

std::optional<SendModes::Mode> CCliOptions::ModeFromText(const std::string& strText)
{
    for (const SendModes::Info& mode : SendModes::kModes) {
        if (strText == mode.pszName || strText == std::to_string(mode.nMode))
            return mode.nMode;
    }
    return std::nullopt;
}

CCliOptions CCliOptions::Parse(int argc, char** argv, std::optional<int>& nExit, std::ostream& out,
                               std::ostream& err)
{
    CCliOptions options;
    std::string strMode = "0";
    std::string strPort = std::to_string(options.nPort);
    bool bNoLoop = false;
    bool bNoModifyTime = false;
    bool bIpv4 = false;
    bool bIpv6 = false;
    bool bTraffic = false;
    std::string strStopAfter;

    CLI::App app{"Stands in for a field device: sends JSON device messages, one per UDP datagram.", "tovrik-cli"};
    // "/path" is a file name on every platform, not a Windows-style option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("tovrik-cli ") + TovrikVersion::kText);
    app.footer(std::string("Reports: tovrik-cli ") + CReportCommand::kName +
               " STATS.json... -o REPORT.html merges fleet runs' --stats-json files into one HTML page.\n"
               "The other end: tovrik-cli " + CReceiveCommand::kName +
               " [-l ADDR:PORT] [OPTION...] receives device traffic, counts it per device and answers it.");
    AddTargetOptions(app, options, strPort, bIpv4, bIpv6);
    AddMessageOptions(app, options, strMode, bNoLoop, bNoModifyTime);
    AddRunOptions(app, options, strStopAfter);
    CFleetOptions::AddTo(app, options.fleet, {strMode, options.source.strImport, options.bCaptureTime});
    CTrafficOptions::AddTo(app, options.fleet.config.traffic, bTraffic);

    try {
        app.parse(argc, argv);
        CheckRules({options, strMode, app.count("--speed") > 0, app.count("--mode") > 0, app.count("--ramp") > 0,
                    bIpv4, bIpv6});
        const CStatus thresholds = options.FleetConfig().CheckThresholds();
        if (!thresholds.IsOk())
            throw CLI::ValidationError(thresholds.Message());
    } catch (const CLI::CallForHelp& e) {
        nExit = app.exit(e, out, err);
        return options;
    } catch (const CLI::CallForVersion& e) {
        nExit = app.exit(e, out, err);
        return options;
    } catch (const CLI::ParseError& e) {
        app.exit(e, out, err);
        nExit = kExitUsage;
        return options;
    }
    options.nFamily = bIpv4 ? AF_INET : bIpv6 ? AF_INET6 : AF_UNSPEC;
    options.nMode = *ModeFromText(strMode);
    options.commandLine.assign(argv, argv + argc);
    options.bLoop = !bNoLoop;
    options.bModifyTime = !bNoModifyTime;
    // The capture's timing and the traffic options are the fleet engine's;
    // one device runs as a fleet of one that, as one device does, sends the
    // messages with their own "IMEI".
    const bool bFleetOfOne = options.bCaptureTime || bTraffic || options.fleet.bPaced;
    options.fleet.config.plan.bKeepImei = bFleetOfOne && !options.fleet.bFleet;
    options.fleet.bFleet = options.fleet.bFleet || bFleetOfOne;
    return options;
}

CFleetConfig CCliOptions::FleetConfig() const
{
    CFleetConfig config = fleet.config;
    config.plan.nMode = nMode;
    config.plan.bLoop = bLoop;
    config.plan.bModifyTime = bModifyTime;
    config.plan.bCaptureTime = bCaptureTime;
    config.plan.dSpeed = dSpeed;
    config.strTarget = strTarget;
    config.nFamily = nFamily;
    config.nPort = static_cast<uint16_t>(nPort);
    config.bBroadcast = bBroadcast;
    config.outputs.commandLine = commandLine;
    config.outputs.dStopAfter = dStopAfter;
    return config;
}
