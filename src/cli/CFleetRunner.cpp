#include "cli/CFleetRunner.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "cli/CCliRunner.h"
#include "cli/CStopSignal.h"
#include "fleet/CDeviceSockets.h"
#include "fleet/CFleetEngine.h"
#include "fleet/CFleetPlan.h"
#include "fleet/CFleetStats.h"
#include "fleet/CReplyReader.h"
#include "fleet/CSystemFleetClock.h"
#include "schedule/CSendSchedule.h"
#include "send/CSocketSink.h"
#include "text/TovrikTexts.h"

namespace {

using Clock = std::chrono::steady_clock;

// Datagrams a second one scheduler thread is given before another one helps.
constexpr double kRatePerThread = 50000.0;

void Say(const std::string& strText)
{
    std::fprintf(stderr, "%s\n", strText.c_str());
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

}  // namespace

int CFleetRunner::Run()
{
    const CFleetOptions& fleet = m_options.fleet;
    CLoadResult loaded = CCliRunner::Load(m_options);
    if (loaded.nStatus != CLoadResult::kOk)
        return CCliOptions::kExitLoad;

    CFleetPlan::Settings planSettings;
    planSettings.nMode = static_cast<uint8_t>(m_options.nMode);
    planSettings.bLoop = m_options.bLoop;
    planSettings.bModifyTime = m_options.bModifyTime;
    planSettings.strCounter = fleet.strCounter;
    planSettings.bByImei = fleet.bByImei;
    planSettings.nImeiFirst = fleet.nImeiFirst;
    planSettings.nImeiWidth = fleet.nImeiWidth;
    CFleetPlan plan;
    plan.Build(planSettings, TovrikTexts::kDeviceInfo, *loaded.pPackets, loaded.pIndex.get());
    // The templates hold all that is sent from here on.
    loaded.pIndex.reset();
    loaded.pPackets.reset();

    const uint64_t nFleet = fleet.bByImei ? plan.ImeiGroups() : fleet.nDevices;
    if (nFleet > CFleetOptions::kMaxDevices) {
        Say("the file has " + std::to_string(nFleet) + " distinct IMEI values, more than the " +
            std::to_string(CFleetOptions::kMaxDevices) + " devices a fleet may have");
        return CCliOptions::kExitUsage;
    }
    uint64_t nFirst = 0;
    uint64_t nCount = 0;
    fleet.ShardRange(nFleet, nFirst, nCount);
    if (nCount == 0) {
        Say("shard " + std::to_string(fleet.nShard) + "/" + std::to_string(fleet.nShards) + " of " +
            std::to_string(nFleet) + " devices has no device");
        return CCliOptions::kExitUsage;
    }
    const int nThreads = fleet.nThreads > 0 ? static_cast<int>(std::min<uint64_t>(fleet.nThreads, nCount))
                                            : AutomaticThreads(planSettings.nMode, nCount, fleet.bSpread ? nFleet : nCount);
    Say("fleet: devices " + std::to_string(nFirst) + "-" + std::to_string(nFirst + nCount - 1) + " of " +
        std::to_string(nFleet) + ", IMEI " +
        (fleet.bByImei ? std::string("by file") : plan.ImeiText(nFirst) + "-" + plan.ImeiText(nFirst + nCount - 1)) +
        ", mode " + std::to_string(m_options.nMode) + ", " + std::to_string(nThreads) +
        (nThreads == 1 ? " thread" : " threads"));

    CDeviceSockets::Binding binding;
    for (const std::string& strAddress : fleet.binds) {
        in_addr address{};
        inet_pton(AF_INET, strAddress.c_str(), &address);
        binding.addresses.push_back(address);
    }
    binding.nPortLow = fleet.nPortLow;
    binding.nPortHigh = fleet.nPortHigh;
    if (m_options.bDryRun) {
        // The limits are checked as a run would check them; nothing is opened.
        CStatus status = CDeviceSockets::CheckPorts(static_cast<uint32_t>(nCount), binding);
        if (status.IsOk())
            status = CDeviceSockets::CheckDescriptors(static_cast<uint32_t>(nCount));
        if (!status.IsOk()) {
            Say(status.Message());
            return CCliOptions::kExitFailure;
        }
        return CCliOptions::kExitOk;
    }

    // A file that cannot be written is said now, not after a long run.
    if (fleet.strStatsJson) {
        std::FILE* pFile = std::fopen(fleet.strStatsJson->c_str(), "a");
        if (pFile == nullptr) {
            Say("cannot write " + *fleet.strStatsJson + ": " + std::strerror(errno));
            return CCliOptions::kExitFailure;
        }
        std::fclose(pFile);
    }

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(m_options.nPort));
    if (!CSocketSink::Resolve(m_options.strTarget, target.sin_addr)) {
        Say("cannot resolve the target '" + m_options.strTarget + "'");
        return CCliOptions::kExitFailure;
    }

    // From here on a stop request is taken by the loop below, before any
    // thread of the fleet exists.
    CStopSignal stopSignal;

    CDeviceSockets sockets;
    const CStatus opened = sockets.Open(static_cast<uint32_t>(nCount), binding, target);
    if (!opened.IsOk()) {
        Say(opened.Message());
        return CCliOptions::kExitFailure;
    }
    CFleetStats stats;
    CReplyReader reader(sockets, stats, m_options.bQuiet ? nullptr : stdout,
                        [&plan, nFirst](uint32_t nDevice) { return plan.ImeiText(nFirst + nDevice); });
    CSystemFleetClock clock(nThreads);
    if (!clock.Valid()) {
        Say("cannot open the fleet's timers");
        return CCliOptions::kExitFailure;
    }
    const CStatus watched = fleet.bReplies ? reader.Start() : sockets.DiscardIncoming();
    if (!watched.IsOk()) {
        Say(watched.Message());
        return CCliOptions::kExitFailure;
    }

    CFleetEngine::Settings settings;
    settings.nFleetDevices = nFleet;
    settings.nFirstDevice = nFirst;
    settings.nDevices = static_cast<uint32_t>(nCount);
    settings.bSpread = fleet.bSpread;
    settings.nThreads = nThreads;
    CFleetEngine engine(plan, settings, clock, sockets, stats);
    const auto start = Clock::now();
    const CStatus started = engine.Start();
    if (!started.IsOk()) {
        Say(started.Message());
        return CCliOptions::kExitFailure;
    }

    const bool bTerminal = isatty(STDERR_FILENO) == 1;
    bool bStatusShown = false;
    const auto deadline = m_options.dStopAfter
                              ? start + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(*m_options.dStopAfter))
                              : Clock::time_point::max();
    auto nextStatus = start + std::chrono::seconds(1);
    for (;;) {
        const auto now = Clock::now();
        if (engine.Finished() || now >= deadline)
            break;
        if (now >= nextStatus) {
            const CFleetStats::Second second = stats.Sample();
            nextStatus += std::chrono::seconds(1);
            if (!m_options.bQuiet) {
                std::fprintf(stderr, bTerminal ? "\r%s\033[K" : "%s\n", stats.StatusLine(second).c_str());
                std::fflush(stderr);
                bStatusShown = true;
            }
        }
        const auto wait = std::min({nextStatus, deadline, now + std::chrono::milliseconds(20)}) - now;
        const auto nWaitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1;
        if (stopSignal.Wait(static_cast<int>(nWaitMs)))
            break;
    }
    engine.Stop();
    engine.Wait();
    reader.Stop();
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    stats.Sample();
    if (bStatusShown && bTerminal)
        std::fprintf(stderr, "\n");

    Say(TovrikTexts::kSendEnded);
    if (!m_options.bQuiet) {
        const double dSent = static_cast<double>(stats.Sent());
        std::printf("sent %llu datagrams in %.3f s (%.1f per second); %llu could not be sent\n",
                    static_cast<unsigned long long>(stats.Sent()), dSeconds, dSeconds > 0 ? dSent / dSeconds : 0.0,
                    static_cast<unsigned long long>(stats.Errors()));
        std::printf("%s\n", stats.SummaryLine(nCount).c_str());
    }
    if (fleet.strStatsJson) {
        CFleetStats::Identity identity;
        identity.nDevices = nCount;
        identity.nFirstDevice = nFirst;
        identity.nFleetDevices = nFleet;
        identity.nMode = m_options.nMode;
        identity.nThreads = nThreads;
        if (!stats.WriteJson(*fleet.strStatsJson, identity, dSeconds)) {
            Say("cannot write " + *fleet.strStatsJson);
            return CCliOptions::kExitFailure;
        }
    }
    return CCliOptions::kExitOk;
}
