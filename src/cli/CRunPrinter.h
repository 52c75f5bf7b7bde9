#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CRunConsole.h"
#include "figures/CFaultStats.h"
#include "figures/CRunRecord.h"
#include "figures/CSendTotals.h"
#include "fleet/CFleetRun.h"
#include "load/CLoadResult.h"
#include "verdict/CThreshold.h"

class CCliOptions;

// What tovrik-cli tells of a run, one device or a fleet: its own messages
// on standard error, figures and verdicts on standard output; with quiet,
// only what was asked for (the verdicts) and what went wrong. As a fleet's
// observer, a status line each second on standard error (redrawn in place
// on a terminal) and a line per reply. The replies come on the reply
// reader's thread, everything else on the main thread.
class CRunPrinter : public CFleetRun::Observer, public CRunConsole {
public:
    explicit CRunPrinter(bool bQuiet);

    // The load's outcome: a capture's summary, the count (or what a dry run
    // does instead) or why it failed, where the cutting stopped. A run says
    // them once every check has passed, since the count says it starts.
    static std::vector<std::string> Loaded(const CLoadResult& loaded, bool bDryRun);
    // Each line on standard error.
    static void SayAll(const std::vector<std::string>& lines);
    // "fleet: devices FIRST-LAST of N, IMEI ..., mode M, T threads".
    static void Banner(const CFleetRun& run, const CCliOptions& options);
    // With replies matched, once the run is open: how, and what it keeps.
    static void Matching(const CFleetRun& run);
    // With --start-at, just before the run waits for it: when it starts, or
    // that the instant has passed and it starts at once.
    static void StartAt(int64_t nStartAtUnixMs);

    void OnSecond(const CFleetStats::Second& second, const CFleetStats& stats) override;
    bool WantsReplies() const override { return !Quiet(); }
    void OnReply(const std::string& strImei, const CReplyReader::Reply& reply) override;
    // The status line goes on with the faults injected so far, by kind.
    void ShowFaults(const CFaultStats* pFaults) { m_pFaults = pFaults; }
    // The status line tells each second's target rate.
    void ShowTarget() { m_bPaced = true; }

    // "sent N datagrams in S s (R per second); F could not be sent".
    void Summary(const CSendTotals& totals) const;
    // The fleet's line after it: devices, errors, lateness, replies.
    void FleetSummary(const CRunRecord& record) const;
    // With DTLS: the handshakes, and the devices that failed most.
    void DtlsSummary(const CFleetRun& run, const CRunRecord& record) const;
    // With traffic options: "traffic: seed S; faults injected: loss L, ...".
    void TrafficSummary(const CRunRecord& record) const;
    // A capacity search: its steps (unless quiet) and what it found (also
    // when quiet: it is what was asked for).
    void CapacitySummary(const CRunRecord::Capacity& capacity) const;

private:
    const CFaultStats* m_pFaults = nullptr;
    bool m_bPaced = false;
};
