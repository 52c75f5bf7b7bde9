#include "cli/CFleetOptions.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "cli/CCliOptions.h"
#include "cli/CDtlsOptions.h"
#include "cli/CRunOptions.h"
#include "net/CTargetAddress.h"
#include "packet/CDeviceMessage.h"
#include "schedule/SendModes.h"
#include "text/CDecimal.h"
#include "text/CDottedQuad.h"
#include "text/CDuration.h"
#include "text/CTextList.h"
#include "text/TovrikTexts.h"
#include "time/CCalendar.h"
#include "traffic/CRate.h"

namespace {

const char kByImei[] = "by-imei";
const char kBySource[] = "by-source";
const char kGroup[] = "Fleet";
constexpr int kMaxImeiDigits = 18;

// The options as given, kept as text until the rules read them.
struct Given {
    std::string strDevices = "1";
    std::optional<std::string> strImeiFirst;
    std::optional<std::string> strCounter;
    std::optional<std::string> strBind;
    std::optional<std::string> strBindPorts;
    std::optional<std::string> strShard;
    std::optional<int> nThreads;
    std::optional<std::string> strRamp;
    std::optional<std::string> strReplyTimeout;
    std::optional<std::string> strReplyMatch;
    std::optional<std::string> strInterval;
    std::optional<std::string> strRate;
    std::optional<std::string> strCapacity;
    std::optional<int> nRefine;
    std::optional<std::string> strRequire;
    std::optional<std::string> strStartAt;
    // The outputs' options, the fleet's metrics.
    std::unique_ptr<CRunOptions> pRun;
    std::unique_ptr<CDtlsOptions> pDtls;
};

// The fleet options' numbers have at most 19 digits, leading zeros included.
bool ReadNumber(const std::string& strText, uint64_t nMax, uint64_t& nValue)
{
    return strText.size() <= 19 && CDecimal::Read(strText, nMax, nValue);
}

// The device info message's own IMEI digits.
std::string DefaultImei()
{
    CDeviceMessage message;
    const std::string info = TovrikTexts::kDeviceInfo;
    std::string strValue;
    message.ReadImei(Packet{info.data(), static_cast<int32_t>(info.size())}, strValue);
    return strValue.size() >= 2 ? strValue.substr(1, strValue.size() - 2) : strValue;
}

std::string Quoted(const std::string& strText)
{
    return "'" + strText + "'";
}

// A rule of the fleet options: reads what it is about into the options and
// answers what is wrong (after "OPTION: "), or nothing.
using Check = std::string (*)(const Given& given, const CFleetOptions::Context& context, CFleetOptions& options);

std::string ReadDevices(const Given& given, const CFleetOptions::Context& context, CFleetOptions& options)
{
    CFleetPlan::Settings& plan = options.config.plan;
    if (given.strDevices == kByImei || given.strDevices == kBySource) {
        plan.bByImei = given.strDevices == kByImei;
        plan.bBySource = !plan.bByImei;
        const bool bReplay = CCliOptions::ModeFromText(context.strMode) == SendModes::kReplay;
        if (!context.strImport || (!bReplay && !context.bCaptureTime))
            return given.strDevices + " needs --import FILE and -m replay or --capture-time";
        return std::string();
    }
    uint64_t nDevices = 0;
    if (!ReadNumber(given.strDevices, CFleetConfig::kMaxDevices, nDevices) || nDevices == 0)
        return Quoted(given.strDevices) + " is not a number from 1 to 1000000, by-imei or by-source";
    options.config.nDevices = static_cast<uint32_t>(nDevices);
    return std::string();
}

std::string ReadImeiFirst(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    CFleetPlan::Settings& plan = options.config.plan;
    if (given.strImeiFirst && options.config.Grouped())
        return std::string("does not go with --devices ") + (plan.bByImei ? kByImei : kBySource);
    const std::string strFirst = given.strImeiFirst ? *given.strImeiFirst : DefaultImei();
    if (strFirst.size() > static_cast<size_t>(kMaxImeiDigits) || !ReadNumber(strFirst, UINT64_MAX, plan.nImeiFirst))
        return Quoted(strFirst) + " is not 1 to 18 decimal digits";
    plan.nImeiWidth = static_cast<int>(strFirst.size());
    if (options.config.Grouped())
        return std::string();
    const std::string strLast = std::to_string(plan.nImeiFirst + options.config.nDevices - 1);
    if (strLast.size() > strFirst.size())
        return "the last device's IMEI " + strLast + " has more than " + std::to_string(strFirst.size()) + " digits";
    return std::string();
}

std::string ReadCounter(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (!given.strCounter)
        return std::string();
    options.config.plan.strCounter = *given.strCounter;
    if (!CDeviceMessage::IsUsersMember(*given.strCounter))
        return CDeviceMessage::kUsersMemberRule;
    return std::string();
}

std::string ReadBind(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (!given.strBind)
        return std::string();
    options.config.binds = CTextList::Split(*given.strBind, ',');
    int nFamily = AF_UNSPEC;
    for (const std::string& strAddress : options.config.binds) {
        const int nThis = CDottedQuad::IsComplete(strAddress)                            ? AF_INET
                          : CTargetAddress::LiteralFamily(strAddress) == AF_INET6 ? AF_INET6
                                                                                  : AF_UNSPEC;
        if (nThis == AF_UNSPEC)
            return Quoted(strAddress) + " is not an IPv4 or IPv6 address";
        if (nFamily != AF_UNSPEC && nThis != nFamily)
            return Quoted(strAddress) + " is " + CTargetAddress::FamilyName(nThis) + ", the first is " +
                   CTargetAddress::FamilyName(nFamily);
        nFamily = nThis;
    }
    return std::string();
}

std::string ReadBindPorts(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (!given.strBindPorts)
        return std::string();
    const std::string& strText = *given.strBindPorts;
    const size_t nDash = strText.find('-');
    uint64_t nLow = 0;
    uint64_t nHigh = 0;
    if (nDash == std::string::npos || !ReadNumber(strText.substr(0, nDash), 65535, nLow) ||
        !ReadNumber(strText.substr(nDash + 1), 65535, nHigh) || nLow == 0 || nLow > nHigh)
        return Quoted(strText) + " is not LO-HI with 1 <= LO <= HI <= 65535";
    options.config.nPortLow = static_cast<uint16_t>(nLow);
    options.config.nPortHigh = static_cast<uint16_t>(nHigh);
    return std::string();
}

std::string ReadShard(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (given.strShard && !CShard::Parse(*given.strShard, options.config.shard))
        return Quoted(*given.strShard) + " is not K/M with 0 <= K < M";
    return std::string();
}

std::string ReadThreads(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (given.nThreads)
        options.config.nThreads = *given.nThreads;
    return std::string();
}

std::string ReadRamp(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    int64_t nNs = 0;
    if (!given.strRamp)
        return std::string();
    if (!CDuration::ReadSeconds(*given.strRamp, 1, static_cast<int64_t>(CFleetConfig::kMaxRampSeconds * 1e9), nNs))
        return Quoted(*given.strRamp) + " is not a duration above 0 (at most a day): " + CDuration::Form() +
               ", or a number of seconds";
    options.config.dRampSeconds = static_cast<double>(nNs) / 1e9;
    return std::string();
}

std::string ReadReplyTimeout(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (given.strReplyTimeout && !CDuration::Read(*given.strReplyTimeout, 1000000, CFleetConfig::kMaxReplyTimeoutNs,
                                                  options.config.nReplyTimeoutNs))
        return Quoted(*given.strReplyTimeout) + " is not a duration from 1ms to 60s (" + CDuration::Form() + ")";
    return std::string();
}

std::string ReadReplyMatch(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (!given.strReplyMatch)
        return std::string();
    options.config.plan.strReplyMatch = *given.strReplyMatch;
    if (given.strReplyMatch->empty() || *given.strReplyMatch == "IMEI")
        return "needs a root member other than IMEI, whose value is the device's, not the datagram's";
    return std::string();
}

std::string ReadInterval(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (!given.strInterval)
        return std::string();
    CDelay interval;
    const CStatus read = CDelay::ReadWithin(*given.strInterval, CTrafficConfig::kMinIntervalNs,
                                            CTrafficConfig::kMaxIntervalNs, interval);
    if (read.IsOk())
        options.config.interval = interval;
    return read.Message();
}

std::string ReadRate(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (!given.strRate)
        return std::string();
    double dRate = 0;
    const CStatus read = CRate::Read(*given.strRate, CTrafficConfig::kMaxRate, dRate);
    if (read.IsOk())
        options.config.dRate = dRate;
    return read.Message();
}

std::string ReadCapacity(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    CFleetConfig& config = options.config;
    if (!given.strCapacity) {
        if (given.nRefine || given.strRequire)
            return "--refine and --require-capacity go with --find-capacity only";
        return std::string();
    }
    CCapacitySearch::Settings settings;
    CStatus read = CCapacitySearch::Read(*given.strCapacity, settings);
    if (!read.IsOk())
        return read.Message();
    if (config.outputs.thresholds.empty())
        return "needs a --threshold to judge each step by";
    if (config.outputs.bAbortOnFail)
        return "judges each step itself: it does not go with --abort-on-fail";
    if (config.dRate || config.interval)
        return "sets the rate itself: it does not go with --rate or --interval";
    // A step settles for the reply timeout and the second its losses count
    // in.
    if (settings.nStepNs <= config.nReplyTimeoutNs + CDuration::kNsPerSecond)
        return "'" + *given.strCapacity + "' has steps no longer than the settle time (the reply timeout, " +
               CDuration::Text(config.nReplyTimeoutNs) + ", and a second): nothing of a step would be judged";
    settings.nRefine = given.nRefine.value_or(0);
    if (given.strRequire) {
        double dRequired = 0;
        read = CRate::Read(*given.strRequire, CTrafficConfig::kMaxRate, dRequired);
        if (!read.IsOk())
            return read.Message();
        settings.dRequired = dRequired;
    }
    config.capacity = settings;
    return std::string();
}

std::string ReadStartAt(const Given& given, const CFleetOptions::Context&, CFleetOptions& options)
{
    if (!given.strStartAt)
        return std::string();
    const int64_t nNowUnixMs = CCalendar::NowUnixMs();
    int64_t nUnixMs = 0;
    if (!CCalendar::ReadInstant(*given.strStartAt, nNowUnixMs, nUnixMs))
        return Quoted(*given.strStartAt) + " is not an instant: " + CCalendar::InstantForm();
    if (nUnixMs - nNowUnixMs > CFleetConfig::kMaxStartAheadMs)
        return Quoted(*given.strStartAt) + " is " + CCalendar::UtcText(nUnixMs) +
               ", more than a week from now: the run would wait that long";
    options.config.nStartAtUnixMs = nUnixMs;
    return std::string();
}

struct Rule {
    const char* pszOption;
    Check check;
};

// In the order they are checked: the first broken rule is the one said.
constexpr Rule kRules[] = {
    {"--devices", ReadDevices}, {"--imei-first", ReadImeiFirst},         {"--counter", ReadCounter},
    {"--bind", ReadBind},       {"--bind-ports", ReadBindPorts},         {"--shard", ReadShard},
    {"--threads", ReadThreads}, {"--ramp", ReadRamp},                    {"--reply-timeout", ReadReplyTimeout},
    {"--reply-match", ReadReplyMatch},
    {"--interval", ReadInterval},
    {"--rate", ReadRate},
    {"--find-capacity", ReadCapacity},
    {"--start-at", ReadStartAt},
};

void AddOptions(CLI::App& app, Given& given, CFleetConfig& config)
{
    app.add_option("--devices", given.strDevices,
                   "Simulated devices: 1 to 1000000, by-imei (with --import and -m replay or --capture-time), or "
                   "by-source (a device per source of an imported capture)")
        ->capture_default_str();
    app.add_option("--imei-first", given.strImeiFirst,
                   "IMEI of device 0; device k gets it + k, zero-padded to its width (default: the device info "
                   "message's)");
    app.add_flag("--spread", config.bSpread, "Place device k at k/N of each period instead of its start");
    app.add_option("--counter", given.strCounter, "Root member that counts up by one with each datagram of a device");
    app.add_flag("--replies", config.bReplies,
                 "Read what reaches the devices' sockets: each reply matched to the datagram it answers (round trip, "
                 "lost, late, duplicate, unmatched), counted and printed");
    app.add_option("--reply-timeout", given.strReplyTimeout,
                   "A datagram no reply answers within this long is lost (default 1s, at most 60s); implies --replies");
    app.add_option("--reply-match", given.strReplyMatch,
                   "Match a reply to the datagram whose root MEMBER has the reply's value of it (default: a reply "
                   "answers its device's oldest outstanding datagram); implies --replies");
    app.add_option("--bind", given.strBind, "Local IPv4 or IPv6 addresses of the devices' sockets, comma-separated");
    app.add_option("--bind-ports", given.strBindPorts, "Local port range LO-HI of the devices' sockets");
    app.add_option("--shard", given.strShard, "Run part K/M of the fleet (0 <= K < M)");
    given.pRun = std::make_unique<CRunOptions>(app, config.outputs, CThreshold::FleetMetrics(), true);
    app.add_option("--interval", given.strInterval,
                   "Each device sends once per interval instead of the mode's period: 250ms, 5min, or drawn once per "
                   "device, uniform(4s,6s) (1ms to 24h)");
    app.add_option("--rate", given.strRate,
                   "The whole fleet sends this many datagrams a second, each device its share: 20000/s, 20k/s");
    app.add_option("--find-capacity", given.strCapacity,
                   "Search for the highest rate the server holds: FROM..TO[,xFACTOR|,+STEP][,DURATION], e.g. "
                   "1k/s..200k/s,x1.25,20s, each step judged on the --thresholds");
    app.add_option("--refine", given.nRefine,
                   "With --find-capacity: steps that halve the gap between the last rate that held and the first "
                   "that did not")
        ->check(CLI::Range(0, 20));
    app.add_option("--require-capacity", given.strRequire,
                   "With --find-capacity: exit code 3 unless the capacity found is at least this rate");
    app.add_option("--start-at", given.strStartAt,
                   "Start the run's schedule at this instant, the same for every shard: 2026-12-10T12:00:00Z, Unix "
                   "seconds, or +SECONDS from now");
    app.add_option("--threads", given.nThreads, "Scheduler threads (default: automatic)")->check(CLI::Range(1, 256));
    app.add_option("--ramp", given.strRamp,
                   "Bring the devices online over this long (30s; a number alone is seconds): device k of N at k/N of it "
                   "(at most a day)");
}

}  // namespace

void CFleetOptions::AddTo(CLI::App& app, CFleetOptions& options, const Context& context)
{
    auto pGiven = std::make_shared<Given>();
    const size_t nBefore = app.get_options().size();
    AddOptions(app, *pGiven, options.config);
    const std::vector<CLI::Option*> added = app.get_options();
    for (size_t i = nBefore; i < added.size(); ++i)
        added[i]->group(kGroup);
    pGiven->pDtls = std::make_unique<CDtlsOptions>(app, options.config.dtls, CDtlsOptions::Side::kFleet);
    app.final_callback([&options, context, pGiven]() {
        const Given& given = *pGiven;
        const CFleetConfig& config = options.config;
        options.bFleet = given.strImeiFirst || given.strCounter || given.strBind || given.strBindPorts ||
                         given.strShard || given.nThreads || config.bSpread || config.bReplies ||
                         given.pRun->Any() || given.strRamp || given.strReplyTimeout || given.strReplyMatch ||
                         given.strCapacity || given.strStartAt || given.pDtls->Any();
        if (const auto wrong = given.pRun->Read())
            throw CLI::ValidationError(wrong->first, wrong->second);
        if (const auto wrong = given.pDtls->Read())
            throw CLI::ValidationError(wrong->first, wrong->second);
        for (const Rule& rule : kRules) {
            const std::string strWrong = rule.check(given, context, options);
            if (!strWrong.empty())
                throw CLI::ValidationError(rule.pszOption, strWrong);
        }
        options.bPaced = given.strInterval || given.strRate || given.strCapacity;
        options.bFleet = options.bFleet || config.Grouped() || config.nDevices > 1;
        options.config.bReplies = config.bReplies || given.strReplyTimeout || given.strReplyMatch;
    });
}
