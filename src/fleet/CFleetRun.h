#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "figures/CFaultStats.h"
#include "figures/CFleetStats.h"
#include "figures/CRunRecord.h"
#include "figures/CSendTotals.h"
#include "fleet/CDtlsDevices.h"
#include "fleet/CFleetConfig.h"
#include "fleet/CFleetPlan.h"
#include "fleet/CPace.h"
#include "fleet/CReplyReader.h"
#include "load/CLoadResult.h"
#include "run/CRunShell.h"
#include "traffic/CTrafficModel.h"

class CReplyMatcher;
class CStopSource;

// One fleet run, for any front end: the front end fills in a CFleetConfig,
// loads the messages, and takes the run through its steps, saying what it
// likes between them; the run hands back figures and verdicts as data and
// prints nothing.
// 1. Plan: the fleet's plan of the loaded messages, its size, this shard's
//    devices, the scheduler threads;
// 2. Check: the ports and file descriptors, the records' files, the target
//    (where a dry run ends);
// 3. ServeMetrics (a taken port ends the run before any device socket is
//    opened), then Open: a socket per device, the clock, the reply reader
//    (or the kernel's dropping of replies);
// 4. Run: the engine until every device has ended, the time is up or the
//    front end's stop source says stop, its figures taken each second;
// 5. Finish: the thresholds judged and the records written.
// A failed step fails with the reason; CStatus::IsInvalid() tells a
// request that cannot be carried out as it was put (a usage error) from a
// failure of the system. Steps are taken in order, each at most once, from
// one thread. From ServeMetrics on the run has threads of its own: a front
// end that has its stop requests taken by blocking signals must block them
// before.
class CFleetRun {
public:
    // What a front end hears while the run goes.
    class Observer {
    public:
        virtual ~Observer() = default;
        // Each second, and once more for the last, partial second when the
        // run ends; on the thread that runs Run.
        virtual void OnSecond(const CFleetStats::Second& /*second*/, const CFleetStats& /*stats*/) {}
        // Whether OnReply is wanted (it costs the IMEI's text per reply).
        virtual bool WantsReplies() const { return false; }
        // A datagram that reached device strImei's socket; on the reply
        // reader's thread.
        virtual void OnReply(const std::string& /*strImei*/, const CReplyReader::Reply& /*reply*/) {}
    };

    // This process's part of the fleet, once planned.
    struct Layout {
        uint64_t nFleet = 0;  // N, the whole fleet
        uint64_t nFirst = 0;  // this process's first device
        uint64_t nCount = 0;  // and its number of devices
        int nThreads = 1;
    };

    struct Result {
        CRunRecord record;
        CSendTotals totals;
        bool bCrossed = false;  // a threshold was crossed
        // The records' files: written, or why not.
        CStatus written;
    };

    // Datagrams a second one scheduler thread is given before another one
    // helps.
    static constexpr double kRatePerThread = 50000.0;

    explicit CFleetRun(CFleetConfig config);
    ~CFleetRun();
    CFleetRun(const CFleetRun&) = delete;
    CFleetRun& operator=(const CFleetRun&) = delete;

    [[nodiscard]] CStatus Plan(CLoadResult loaded);
    const Layout& GetLayout() const { return m_layout; }
    const CFleetPlan& GetPlan() const { return m_plan; }
    // What the plan found worth saying before the run (a --counter or
    // --reply-match member that some packets lack, a --vary member that
    // some packets lack or cannot take).
    const std::vector<std::string>& Warnings() const { return m_warnings; }
    // With traffic options, once planned: the traffic and its seed (the
    // config's, or one drawn at random); the faults injected so far.
    const CTrafficModel* Traffic() const { return m_pTraffic.get(); }
    uint64_t Seed() const { return m_pTraffic ? m_pTraffic->Seed() : 0; }
    // Paced by an interval or a rate, once planned: the devices' pace.
    const CPace* Pace() const { return m_pPace.get(); }
    const CFaultStats& Faults() const { return m_faults; }

    [[nodiscard]] CStatus Check();
    // Nothing when the config asks for no metrics.
    [[nodiscard]] CStatus ServeMetrics();
    // The metrics server's port, once serving.
    uint16_t MetricsPort() const;
    [[nodiscard]] CStatus Open(Observer& observer);
    [[nodiscard]] CStatus Run(CStopSource& stop);
    Result Finish();

    const CFleetStats& Stats() const { return m_stats; }
    // With replies read, once open: how they are matched to datagrams.
    const CReplyMatcher* Matcher() const;
    // With DTLS, once run: the devices whose handshakes failed most.
    std::vector<CDtlsDevices::Failing> MostFailing(size_t nMost) const;

    // The scheduler threads for nPaced devices sharing each period of the
    // mode (a shard of a spread fleet has its devices in its part of the
    // period only, at the whole fleet's pace), at most one per core and
    // per device.
    static int AutomaticThreads(SendModes::Mode nMode, uint64_t nDevices, uint64_t nPaced);

private:
    struct Parts;
    class CSecondsJudge;

    // Warns of packets the counter or the reply matching cannot use.
    void NoteMisses();
    // The plan's vary rules from the traffic's; fails when one is the
    // counter's member.
    CStatus PlanVary();
    // The devices' pace, for a run paced by an interval or a rate.
    CStatus PlanPace();
    void NoteVaryMisses();
    CStatus CheckTarget();
    void MatchReplies();
    // On the reply reader's thread: what reached a device's socket, and
    // (the same, or what a DTLS record of it carried) a reply.
    void OnReply(const CReplyReader::Reply& reply);
    void OnPlainReply(const CReplyReader::Reply& reply);

    CFleetConfig m_config;
    CFleetPlan m_plan;
    Layout m_layout;
    std::vector<std::string> m_warnings;
    CFleetStats m_stats;
    CFaultStats m_faults;
    std::unique_ptr<CTrafficModel> m_pTraffic;
    std::unique_ptr<CPace> m_pPace;
    std::optional<CRunRecord::Capacity> m_capacity;
    Observer* m_pObserver = nullptr;
    // Gone before the figures its metrics serve.
    CRunShell m_shell;
    std::unique_ptr<Parts> m_pParts;
};
