#include "cli/CFleetRunner.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/CCliRunner.h"
#include "cli/CFleetMonitor.h"
#include "cli/CRunRecords.h"
#include "cli/CRunWait.h"
#include "cli/CStopSignal.h"
#include "fleet/CDeviceSockets.h"
#include "fleet/CFleetEngine.h"
#include "fleet/CFleetPlan.h"
#include "fleet/CFleetStats.h"
#include "fleet/CReplyReader.h"
#include "fleet/CSystemFleetClock.h"
#include "metrics/CMetricsServer.h"
#include "metrics/CMetricsText.h"
#include "net/CTargetAddress.h"
#include "schedule/CSendSchedule.h"
#include "text/TovrikTexts.h"

namespace {

// Datagrams a second one scheduler thread is given before another one helps.
constexpr double kRatePerThread = 50000.0;

void Say(const std::string& strText)
{
    std::fprintf(stderr, "%s\n", strText.c_str());
}

std::string SpeedText(double dSpeed)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", dSpeed);
    return text;
}

// nPaced devices share each period: a shard of a spread fleet has its
// devices in its part of the period only, at the whole fleet's pace.
int AutomaticThreads(uint8_t nMode, uint64_t nDevices, uint64_t nPaced)
{
    const int64_t nPeriodNs = CSendSchedule::PeriodNs(nMode);
    const double dRate = nPeriodNs > 0 ? static_cast<double>(nPaced) * 1e9 / static_cast<double>(nPeriodNs) : 0;
    const int nCores = std::max(1u, std::thread::hardware_concurrency());
    const int nWanted = static_cast<int>(dRate / kRatePerThread) + 1;
    return static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(std::min(nWanted, nCores)), nDevices));
}

// Prints each threshold's verdict and keeps it for the records; answers
// whether any was crossed.
bool Judge(const std::vector<CThreshold>& thresholds, const CFleetStats& stats,
           std::vector<CFleetStats::Identity::Verdict>& verdicts)
{
    const CFleetStats::Lateness total = stats.Total();
    CThreshold::Figures figures;
    figures.nSent = stats.Sent();
    figures.nErrors = stats.Errors();
    figures.nReplies = stats.Replies();
    figures.dLateP50Ms = total.dP50Ms;
    figures.dLateP99Ms = total.dP99Ms;
    figures.dLateMaxMs = total.dMaxMs;
    bool bCrossed = false;
    for (const CThreshold& threshold : thresholds) {
        const double dValue = threshold.Measure(figures);
        const bool bOk = threshold.Holds(dValue);
        // The verdict asked for: printed also with -q.
        std::printf("%s\n", threshold.Line(dValue).c_str());
        verdicts.push_back({threshold.Expression(), dValue, bOk});
        bCrossed = bCrossed || !bOk;
    }
    std::fflush(stdout);
    return bCrossed;
}

}  // namespace

// Destroyed in reverse: the reader and the metrics server have stopped
// before the sockets and the stats they use go.
struct CFleetRunner::State {
    CFleetPlan plan;
    uint64_t nFleet = 0;  // N, the whole fleet
    uint64_t nFirst = 0;  // this process's first device
    uint64_t nCount = 0;  // and its number of devices
    int nThreads = 1;
    CDeviceSockets::Binding binding;
    sockaddr_storage target{};
    std::unique_ptr<CStopSignal> pStopSignal;
    CDeviceSockets sockets;
    CFleetStats stats;
    std::unique_ptr<CMetricsServer> pMetrics;
    std::unique_ptr<CSystemFleetClock> pClock;
    std::unique_ptr<CReplyReader> pReader;
    std::unique_ptr<CRunRecords> pRecords;
    double dSeconds = 0;
};

CFleetRunner::CFleetRunner(const CCliOptions& options) : m_options(options), m_pState(std::make_unique<State>()) {}

CFleetRunner::~CFleetRunner() = default;

int CFleetRunner::Run()
{
    for (const auto step : {&CFleetRunner::LoadPlan, &CFleetRunner::CheckLimits, &CFleetRunner::OpenSockets,
                            &CFleetRunner::RunEngine}) {
        if (const std::optional<int> nExit = (this->*step)())
            return *nExit;
    }
    return Summarize();
}

std::optional<int> CFleetRunner::LoadPlan()
{
    const CFleetOptions& fleet = m_options.fleet;
    State& state = *m_pState;
    CLoadResult loaded = CCliRunner::Load(m_options);
    if (loaded.nStatus != CLoadResult::kOk)
        return CCliRunner::LoadExit(loaded);

    CFleetPlan::Settings settings;
    settings.nMode = static_cast<uint8_t>(m_options.nMode);
    settings.bLoop = m_options.bLoop;
    settings.bModifyTime = m_options.bModifyTime;
    settings.strCounter = fleet.strCounter;
    settings.bByImei = fleet.bByImei;
    settings.bBySource = fleet.bBySource;
    settings.bKeepImei = fleet.bKeepImei;
    settings.bCaptureTime = m_options.bCaptureTime;
    settings.dSpeed = m_options.dSpeed;
    settings.nImeiFirst = fleet.nImeiFirst;
    settings.nImeiWidth = fleet.nImeiWidth;
    CFleetPlan::Capture capture;
    if (!loaded.captureNs.empty()) {
        capture.pNs = loaded.captureNs.data();
        capture.pSource = loaded.captureSource.data();
    }
    state.plan.Build(settings, TovrikTexts::kDeviceInfo, *loaded.pPackets, loaded.pIndex.get(), &capture);
    // The templates hold all that is sent from here on.
    loaded.pIndex.reset();
    loaded.pPackets.reset();

    const bool bGrouped = fleet.bByImei || fleet.bBySource;
    state.nFleet = bGrouped ? state.plan.ImeiGroups() : fleet.nDevices;
    if (state.nFleet > CFleetOptions::kMaxDevices) {
        Say("the file has " + std::to_string(state.nFleet) +
            (fleet.bBySource ? " sources" : " distinct IMEI values") + ", more than the " +
            std::to_string(CFleetOptions::kMaxDevices) + " devices a fleet may have");
        return CCliOptions::kExitUsage;
    }
    fleet.ShardRange(state.nFleet, state.nFirst, state.nCount);
    if (state.nCount == 0) {
        Say("shard " + std::to_string(fleet.nShard) + "/" + std::to_string(fleet.nShards) + " of " +
            std::to_string(state.nFleet) + " devices has no device");
        return CCliOptions::kExitUsage;
    }
    state.nThreads = fleet.nThreads > 0
                         ? static_cast<int>(std::min<uint64_t>(fleet.nThreads, state.nCount))
                         : AutomaticThreads(settings.nMode, state.nCount, fleet.bSpread ? state.nFleet : state.nCount);
    const uint64_t nLast = state.nFirst + state.nCount - 1;
    Say("fleet: devices " + std::to_string(state.nFirst) + "-" + std::to_string(nLast) + " of " +
        std::to_string(state.nFleet) + ", IMEI " +
        (bGrouped ? std::string(fleet.bBySource ? "by source" : "by file")
                       : state.plan.ImeiText(state.nFirst) + "-" + state.plan.ImeiText(nLast)) +
        (m_options.bCaptureTime ? ", capture time at speed " + SpeedText(m_options.dSpeed)
                                : ", mode " + std::to_string(m_options.nMode)) + ", " + std::to_string(state.nThreads) +
        (state.nThreads == 1 ? " thread" : " threads"));
    return std::nullopt;
}

std::optional<int> CFleetRunner::CheckLimits()
{
    const CFleetOptions& fleet = m_options.fleet;
    State& state = *m_pState;
    for (const std::string& strAddress : fleet.binds) {
        sockaddr_storage address{};
        SocketLength nLength = 0;
        if (CTargetAddress::Resolve(strAddress, AF_UNSPEC, 0, address, nLength))
            state.binding.addresses.push_back(address);
    }
    state.binding.nPortLow = fleet.nPortLow;
    state.binding.nPortHigh = fleet.nPortHigh;
    state.binding.bBroadcast = m_options.bBroadcast;
    if (m_options.bDryRun) {
        // The limits are checked as a run would check them; nothing is opened.
        CStatus status = CDeviceSockets::CheckPorts(static_cast<uint32_t>(state.nCount), state.binding);
        if (status.IsOk())
            status = CDeviceSockets::CheckDescriptors(static_cast<uint32_t>(state.nCount));
        if (!status.IsOk()) {
            Say(status.Message());
            return CCliOptions::kExitFailure;
        }
        return CCliOptions::kExitOk;
    }

    state.pRecords = std::make_unique<CRunRecords>(fleet.strStatsJson, fleet.strReport);
    const CStatus writable = state.pRecords->CheckWritable();
    if (!writable.IsOk()) {
        Say(writable.Message());
        return CCliOptions::kExitFailure;
    }

    SocketLength nTargetLength = 0;
    if (!CTargetAddress::Resolve(m_options.strTarget, m_options.nFamily, static_cast<uint16_t>(m_options.nPort),
                                 state.target, nTargetLength)) {
        Say("cannot resolve the target '" + m_options.strTarget + "'");
        return CCliOptions::kExitFailure;
    }
    std::string strRefusal = m_options.RefusalOf(state.target);
    if (strRefusal.empty() && !state.binding.addresses.empty() &&
        state.binding.addresses.front().ss_family != state.target.ss_family)
        strRefusal = std::string("--bind: the addresses are ") +
                     CTargetAddress::FamilyName(state.binding.addresses.front().ss_family) + ", the target " +
                     CTargetAddress::AddressText(state.target) + " is " +
                     CTargetAddress::FamilyName(state.target.ss_family);
    if (!strRefusal.empty()) {
        Say(strRefusal);
        return CCliOptions::kExitUsage;
    }
    return std::nullopt;
}

std::optional<int> CFleetRunner::OpenSockets()
{
    State& state = *m_pState;
    // From here on a stop request is taken by the monitor, before any thread
    // of the fleet exists.
    state.pStopSignal = std::make_unique<CStopSignal>();
    if (const std::optional<int> nExit = ServeMetrics())
        return nExit;

    const CStatus opened = state.sockets.Open(static_cast<uint32_t>(state.nCount), state.binding, state.target);
    if (!opened.IsOk()) {
        Say(opened.Message());
        return CCliOptions::kExitFailure;
    }
    state.pClock = std::make_unique<CSystemFleetClock>(state.nThreads);
    if (!state.pClock->Valid()) {
        Say("cannot open the fleet's timers");
        return CCliOptions::kExitFailure;
    }
    state.pReader = std::make_unique<CReplyReader>(
        state.sockets, state.stats, m_options.bQuiet ? nullptr : stdout,
        [&state](uint32_t nDevice) { return state.plan.ImeiText(state.nFirst + nDevice); });
    const CStatus watched = m_options.fleet.bReplies ? state.pReader->Start() : state.sockets.DiscardIncoming();
    if (!watched.IsOk()) {
        Say(watched.Message());
        return CCliOptions::kExitFailure;
    }
    return std::nullopt;
}

std::optional<int> CFleetRunner::ServeMetrics()
{
    const CFleetOptions& fleet = m_options.fleet;
    State& state = *m_pState;
    if (!fleet.bMetrics)
        return std::nullopt;
    in_addr address{};
    inet_pton(AF_INET, fleet.strMetricsAddress.c_str(), &address);
    // Served from the server's thread until the runner goes, after the
    // summary: the last scrapes see the run's final figures.
    state.pMetrics = std::make_unique<CMetricsServer>(
        [&stats = state.stats, text = CMetricsText(fleet.nShard, fleet.nShards, state.nCount)] {
            return text.Text(stats);
        });
    const CStatus serving = state.pMetrics->Start(address, fleet.nMetricsPort);
    if (!serving.IsOk()) {
        Say(serving.Message());
        return CCliOptions::kExitFailure;
    }
    Say("metrics: http://" + fleet.strMetricsAddress + ":" + std::to_string(state.pMetrics->Port()) + "/metrics");
    return std::nullopt;
}

std::optional<int> CFleetRunner::RunEngine()
{
    State& state = *m_pState;
    CFleetEngine::Settings settings;
    settings.nFleetDevices = state.nFleet;
    settings.nFirstDevice = state.nFirst;
    settings.nDevices = static_cast<uint32_t>(state.nCount);
    settings.bSpread = m_options.fleet.bSpread;
    settings.nThreads = state.nThreads;
    settings.nRampNs = static_cast<int64_t>(m_options.fleet.dRampSeconds * 1e9);
    CFleetEngine engine(state.plan, settings, *state.pClock, state.sockets, state.stats);
    CRunWait wait(*state.pStopSignal, m_options.dStopAfter);
    state.pRecords->MarkStart();
    const CStatus started = engine.Start();
    if (!started.IsOk()) {
        Say(started.Message());
        return CCliOptions::kExitFailure;
    }

    CFleetMonitor monitor(state.stats, m_options.bQuiet);
    monitor.Run(wait, [&engine] { return engine.Finished(); });
    engine.Stop();
    engine.Wait();
    state.pReader->Stop();
    state.dSeconds = wait.Seconds();
    monitor.Finish();
    return std::nullopt;
}

int CFleetRunner::Summarize()
{
    const State& state = *m_pState;
    Say(TovrikTexts::kSendEnded);
    if (!m_options.bQuiet) {
        const double dSent = static_cast<double>(state.stats.Sent());
        std::printf("sent %llu datagrams in %.3f s (%.1f per second); %llu could not be sent\n",
                    static_cast<unsigned long long>(state.stats.Sent()), state.dSeconds,
                    state.dSeconds > 0 ? dSent / state.dSeconds : 0.0,
                    static_cast<unsigned long long>(state.stats.Errors()));
        std::printf("%s\n", state.stats.SummaryLine(state.nCount).c_str());
    }
    CFleetStats::Identity identity;
    identity.nDevices = state.nCount;
    identity.nFirstDevice = state.nFirst;
    identity.nFleetDevices = state.nFleet;
    identity.nMode = m_options.nMode;
    identity.nThreads = state.nThreads;
    identity.commandLine = m_options.commandLine;
    identity.nShard = m_options.fleet.nShard;
    identity.nShards = m_options.fleet.nShards;
    const bool bCrossed = Judge(m_options.fleet.thresholds, state.stats, identity.verdicts);
    const CStatus written = state.pRecords->Write(state.stats, identity, state.dSeconds);
    if (!written.IsOk()) {
        Say(written.Message());
        return CCliOptions::kExitFailure;
    }
    // Sends were tried and none went out: the run failed, whatever it was for.
    const bool bNoneSent = state.stats.Sent() == 0 && state.stats.Errors() > 0;
    return bCrossed || bNoneSent ? CCliOptions::kExitCrossed : CCliOptions::kExitOk;
}
