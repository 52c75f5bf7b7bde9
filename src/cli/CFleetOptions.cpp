#include "cli/CFleetOptions.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "cli/CCliOptions.h"
#include "net/CTargetAddress.h"
#include "packet/CDeviceMessage.h"
#include "schedule/SendModes.h"
#include "text/CDecimal.h"
#include "text/TovrikTexts.h"

namespace {

const char kByImei[] = "by-imei";
const char kBySource[] = "by-source";
const char kGroup[] = "Fleet (Linux)";

// The fleet options' numbers have at most 19 digits, leading zeros included.
bool ReadNumber(const std::string& strText, uint64_t nMax, uint64_t& nValue)
{
    return strText.size() <= 19 && CDecimal::Read(strText, nMax, nValue);
}

// "LO-HI" or "K/M".
bool ReadPair(const std::string& strText, char cSeparator, uint64_t nMax, uint64_t& nFirst, uint64_t& nSecond)
{
    const size_t nAt = strText.find(cSeparator);
    return nAt != std::string::npos && ReadNumber(strText.substr(0, nAt), nMax, nFirst) &&
           ReadNumber(strText.substr(nAt + 1), nMax, nSecond);
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

// Four decimal numbers 0-255 joined by dots.
bool IsDottedQuad(const std::string& strText)
{
    int nParts = 0;
    size_t nStart = 0;
    for (;;) {
        const size_t nDot = strText.find('.', nStart);
        const std::string strPart = strText.substr(nStart, nDot == std::string::npos ? std::string::npos : nDot - nStart);
        uint64_t nValue = 0;
        if (strPart.size() > 3 || !ReadNumber(strPart, 255, nValue))
            return false;
        ++nParts;
        if (nDot == std::string::npos)
            return nParts == 4;
        nStart = nDot + 1;
    }
}

std::vector<std::string> SplitList(const std::string& strText)
{
    std::vector<std::string> items;
    size_t nStart = 0;
    for (;;) {
        const size_t nComma = strText.find(',', nStart);
        items.push_back(strText.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart));
        if (nComma == std::string::npos)
            return items;
        nStart = nComma + 1;
    }
}

}  // namespace

void CFleetOptions::ShardRange(uint64_t nFleet, uint64_t& nFirst, uint64_t& nCount) const
{
    nFirst = nFleet * nShard / nShards;
    nCount = nFleet * (nShard + 1) / nShards - nFirst;
}

void CFleetOptions::AddTo(CLI::App& app, CFleetOptions& options, const std::string& strMode,
                          const std::optional<std::string>& strImport, const bool& bCaptureTime)
{
    // Kept as given until the final check, which also decides bFleet.
    struct Given {
        std::string strDevices = "1";
        std::optional<std::string> strImeiFirst;
        std::optional<std::string> strCounter;
        std::optional<std::string> strBind;
        std::optional<std::string> strBindPorts;
        std::optional<std::string> strShard;
        std::optional<int> nThreads;
        std::optional<std::string> strMetrics;
        std::optional<std::string> strRamp;
        std::vector<std::string> thresholds;
    };
    auto pGiven = std::make_shared<Given>();

    app.add_option("--devices", pGiven->strDevices,
                   "Simulated devices: 1 to 1000000, by-imei (with --import and -m replay or --capture-time), or "
                   "by-source (a device per source of an imported capture)")
        ->capture_default_str()
        ->group(kGroup);
    app.add_option("--imei-first", pGiven->strImeiFirst,
                   "IMEI of device 0; device k gets it + k, zero-padded to its width (default: the device info "
                   "message's)")
        ->group(kGroup);
    app.add_flag("--spread", options.bSpread, "Place device k at k/N of each period instead of its start")
        ->group(kGroup);
    app.add_option("--counter", pGiven->strCounter,
                   "Root member that counts up by one with each datagram of a device")
        ->group(kGroup);
    app.add_flag("--replies", options.bReplies, "Count and print what reaches the devices' sockets")
        ->group(kGroup);
    app.add_option("--bind", pGiven->strBind, "Local IPv4 or IPv6 addresses of the devices' sockets, comma-separated")
        ->group(kGroup);
    app.add_option("--bind-ports", pGiven->strBindPorts, "Local port range LO-HI of the devices' sockets")
        ->group(kGroup);
    app.add_option("--shard", pGiven->strShard, "Run part K/M of the fleet (0 <= K < M)")
        ->group(kGroup);
    app.add_option("--stats-json", options.strStatsJson, "Write the fleet's figures as JSON to this file")
        ->group(kGroup);
    app.add_option("--report", options.strReport, "Write an HTML report of the run, with plots, to this file")
        ->group(kGroup);
    app.add_option("--metrics", pGiven->strMetrics,
                   "Serve the fleet's figures for Prometheus at http://ADDR:PORT/metrics")
        ->group(kGroup);
    app.add_option("--threads", pGiven->nThreads, "Scheduler threads (default: automatic)")
        ->check(CLI::Range(1, 256))
        ->group(kGroup);
    app.add_option("--ramp", pGiven->strRamp,
                   "Bring the devices online over this many seconds: device k of N at k/N of it (at most a day)")
        ->group(kGroup);
    app.add_option("--threshold", pGiven->thresholds,
                   "Pass/fail rule on the run's figures, e.g. late_p99<=5ms, errors==0, replies>=0.99 (repeatable; "
                   "any crossed: exit code 3)")
        ->allow_extra_args(false)
        ->group(kGroup);

    app.final_callback([&options, &strMode, &strImport, &bCaptureTime, pGiven]() {
        const Given& given = *pGiven;
        options.bFleet = given.strImeiFirst || given.strCounter || given.strBind || given.strBindPorts ||
                         given.strShard || given.nThreads || options.strStatsJson || options.bSpread ||
                         options.bReplies || options.strReport || given.strMetrics ||
                         given.strRamp || !given.thresholds.empty();
        if (options.strReport && options.strReport == options.strStatsJson)
            throw CLI::ValidationError("--report", "'" + *options.strReport + "' is the --stats-json file too");
        if (given.strDevices == kByImei || given.strDevices == kBySource) {
            options.bByImei = given.strDevices == kByImei;
            options.bBySource = !options.bByImei;
            if (!strImport || (CCliOptions::ModeFromText(strMode) != SendModes::kReplay && !bCaptureTime))
                throw CLI::ValidationError("--devices", given.strDevices +
                                                            " needs --import FILE and -m replay or --capture-time");
            if (given.strImeiFirst)
                throw CLI::ValidationError("--imei-first", "does not go with --devices " + given.strDevices);
        } else {
            uint64_t nDevices = 0;
            if (!ReadNumber(given.strDevices, kMaxDevices, nDevices) || nDevices == 0)
                throw CLI::ValidationError("--devices", "'" + given.strDevices +
                                                            "' is not a number from 1 to 1000000, by-imei or "
                                                            "by-source");
            options.nDevices = static_cast<uint32_t>(nDevices);
        }
        options.bFleet = options.bFleet || options.bByImei || options.bBySource || options.nDevices > 1;

        const std::string strFirst = given.strImeiFirst ? *given.strImeiFirst : DefaultImei();
        if (strFirst.size() > static_cast<size_t>(kMaxImeiDigits) ||
            !ReadNumber(strFirst, UINT64_MAX, options.nImeiFirst))
            throw CLI::ValidationError("--imei-first", "'" + strFirst + "' is not 1 to 18 decimal digits");
        options.nImeiWidth = static_cast<int>(strFirst.size());
        if (!options.bByImei && !options.bBySource) {
            const std::string strLast = std::to_string(options.nImeiFirst + options.nDevices - 1);
            if (strLast.size() > strFirst.size())
                throw CLI::ValidationError("--imei-first", "the last device's IMEI " + strLast + " has more than " +
                                                               std::to_string(strFirst.size()) + " digits");
        }

        if (given.strCounter) {
            options.strCounter = *given.strCounter;
            if (options.strCounter.empty() || options.strCounter == "IMEI" || options.strCounter == "time")
                throw CLI::ValidationError("--counter", "needs a member other than IMEI and time");
        }
        if (given.strBind) {
            options.binds = SplitList(*given.strBind);
            int nFamily = AF_UNSPEC;
            for (const std::string& strAddress : options.binds) {
                const int nThis = IsDottedQuad(strAddress)                                   ? AF_INET
                                  : CTargetAddress::LiteralFamily(strAddress) == AF_INET6 ? AF_INET6
                                                                                          : AF_UNSPEC;
                if (nThis != AF_INET && nThis != AF_INET6)
                    throw CLI::ValidationError("--bind", "'" + strAddress + "' is not an IPv4 or IPv6 address");
                if (nFamily != AF_UNSPEC && nThis != nFamily)
                    throw CLI::ValidationError("--bind", "'" + strAddress + "' is " +
                                                             CTargetAddress::FamilyName(nThis) + ", the first is " +
                                                             CTargetAddress::FamilyName(nFamily));
                nFamily = nThis;
            }
        }
        if (given.strBindPorts) {
            uint64_t nLow = 0;
            uint64_t nHigh = 0;
            if (!ReadPair(*given.strBindPorts, '-', 65535, nLow, nHigh) || nLow == 0 || nLow > nHigh)
                throw CLI::ValidationError("--bind-ports", "'" + *given.strBindPorts +
                                                               "' is not LO-HI with 1 <= LO <= HI <= 65535");
            options.nPortLow = static_cast<uint16_t>(nLow);
            options.nPortHigh = static_cast<uint16_t>(nHigh);
        }
        if (given.strShard) {
            uint64_t nShard = 0;
            uint64_t nShards = 0;
            if (!ReadPair(*given.strShard, '/', kMaxDevices, nShard, nShards) || nShards == 0 || nShard >= nShards)
                throw CLI::ValidationError("--shard", "'" + *given.strShard + "' is not K/M with 0 <= K < M");
            options.nShard = static_cast<uint32_t>(nShard);
            options.nShards = static_cast<uint32_t>(nShards);
        }
        if (given.nThreads)
            options.nThreads = *given.nThreads;
        if (given.strMetrics) {
            const std::string& strMetrics = *given.strMetrics;
            const size_t nColon = strMetrics.rfind(':');
            const std::string strAddress = strMetrics.substr(0, nColon == std::string::npos ? 0 : nColon);
            uint64_t nPort = 0;
            options.strMetricsAddress = strAddress == "localhost" ? "127.0.0.1" : strAddress;
            if (nColon == std::string::npos || !IsDottedQuad(options.strMetricsAddress) ||
                !ReadNumber(strMetrics.substr(nColon + 1), 65535, nPort))
                throw CLI::ValidationError("--metrics", "'" + strMetrics +
                                                            "' is not ADDR:PORT with an IPv4 address or localhost "
                                                            "and a port 0-65535");
            options.bMetrics = true;
            options.nMetricsPort = static_cast<uint16_t>(nPort);
        }
        if (given.strRamp) {
            if (!CDecimal::ReadPositive(*given.strRamp, kMaxRampSeconds, options.dRampSeconds))
                throw CLI::ValidationError("--ramp", "'" + *given.strRamp +
                                                         "' is not a number of seconds above 0 (at most 86400)");
        }
        for (const std::string& strThreshold : given.thresholds) {
            CThreshold threshold;
            const CStatus parsed = CThreshold::Parse(strThreshold, threshold);
            if (!parsed.IsOk())
                throw CLI::ValidationError("--threshold", parsed.Message());
            options.thresholds.push_back(threshold);
        }
    });
}
