#include "cli/CRunPrinter.h"

#include <cinttypes>

#include "cli/CCliOptions.h"
#include "cli/CConsole.h"
#include "dtls/CDtlsContext.h"
#include "fleet/CReplyMatcher.h"
#include "net/CTargetAddress.h"
#include "text/CDecimal.h"
#include "text/CPrintable.h"
#include "time/CCalendar.h"
#include "verdict/CCapacityVerdict.h"

namespace {

// The devices the DTLS summary names.
constexpr size_t kFailingListed = 5;

std::string SpeedText(double dSpeed)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", dSpeed);
    return text;
}

}  // namespace

CRunPrinter::CRunPrinter(bool bQuiet) : CRunConsole(bQuiet) {}

std::vector<std::string> CRunPrinter::Loaded(const CLoadResult& loaded, bool bDryRun)
{
    std::vector<std::string> lines;
    if (!loaded.strSummary.empty())
        lines.push_back(loaded.strSummary);
    if (loaded.nStatus == CLoadResult::kOk && bDryRun) {
        const size_t nPackets = loaded.pPackets ? loaded.pPackets->size() : 0;
        lines.push_back("dry run: " + std::to_string(nPackets) + (nPackets == 1 ? " packet" : " packets") +
                        " loaded; checked as a run would be, nothing is sent");
    } else {
        lines.push_back(loaded.Message());
    }
    if (loaded.bCutStopped)
        lines.push_back(loaded.CutStopMessage());
    return lines;
}

void CRunPrinter::SayAll(const std::vector<std::string>& lines)
{
    for (const std::string& strLine : lines)
        Say(strLine);
}

void CRunPrinter::Banner(const CFleetRun& run, const CCliOptions& options)
{
    const CFleetRun::Layout& layout = run.GetLayout();
    const CFleetPlan::Settings& plan = options.fleet.config.plan;
    const uint64_t nLast = layout.nFirst + layout.nCount - 1;
    const std::string strImei = plan.bBySource ? "by source"
                                : plan.bByImei ? "by file"
                                               : run.GetPlan().ImeiText(layout.nFirst) + "-" +
                                                     run.GetPlan().ImeiText(nLast);
    Say("fleet: devices " + std::to_string(layout.nFirst) + "-" + std::to_string(nLast) + " of " +
        std::to_string(layout.nFleet) + ", IMEI " + strImei +
        (options.bCaptureTime ? ", capture time at speed " + SpeedText(options.dSpeed)
                              : ", mode " + std::to_string(options.nMode)) +
        ", " + std::to_string(layout.nThreads) + (layout.nThreads == 1 ? " thread" : " threads"));
    if (options.fleet.config.dtls.bOn)
        Say("dtls: " + CDtlsContext::LibraryText() + ", suites " + CDtlsContext::SuitesText(options.fleet.config.dtls) +
            "; no Connection ID (not built into Debian's mbed TLS)");
}

void CRunPrinter::StartAt(int64_t nStartAtUnixMs)
{
    const double dAheadSeconds = static_cast<double>(nStartAtUnixMs - CCalendar::NowUnixMs()) / 1000;
    char ahead[64];
    std::snprintf(ahead, sizeof ahead, "%.1f s", dAheadSeconds >= 0 ? dAheadSeconds : -dAheadSeconds);
    if (dAheadSeconds >= 0)
        Say("start: at " + CCalendar::UtcText(nStartAtUnixMs) + " (in " + ahead + ")");
    else
        Say("warning: --start-at " + CCalendar::UtcText(nStartAtUnixMs) + " passed " + ahead +
            " ago: starting at once, that much after the shards that started on time");
}

void CRunPrinter::Matching(const CFleetRun& run)
{
    const CReplyMatcher* pMatcher = run.Matcher();
    if (pMatcher == nullptr)
        return;
    const CReplyMatcher::Settings& settings = pMatcher->GetSettings();
    const std::string& strMember = run.GetPlan().GetSettings().strReplyMatch;
    char text[160];
    std::snprintf(text, sizeof text,
                  ", timeout %.3f ms; kept per device: up to %d outstanding datagrams, %zu bytes (%.1f MB in all)",
                  static_cast<double>(settings.nTimeoutNs) / 1e6, settings.nSlots, pMatcher->BytesPerDevice(),
                  static_cast<double>(pMatcher->BytesPerDevice() * run.GetLayout().nCount) / 1e6);
    Say("replies: matched " + (strMember.empty() ? std::string("by order") : "by member \"" + strMember + "\"") +
        text);
}

void CRunPrinter::OnSecond(const CFleetStats::Second& second, const CFleetStats& stats)
{
    if (Quiet())
        return;
    char line[256];
    std::snprintf(line, sizeof line,
                  "devices %" PRId64 " sent %" PRIu64 " %" PRIu64 "/s errors %" PRIu64
                  " late p50 %.3f p99 %.3f max %.3f ms replies %" PRIu64 " online %" PRIu64 "/%" PRId64,
                  second.nDevices, stats.Sent(), second.nSent, stats.Errors(), second.lateness.dP50Ms,
                  second.lateness.dP99Ms, second.lateness.dMaxMs, stats.Replies(), second.nOnline,
                  stats.AllDevices());
    std::string strLine = line;
    if (m_bPaced) {
        std::snprintf(line, sizeof line, " target %.0f/s", second.dTarget);
        strLine += line;
    }
    if (const CReplyStats* pReplies = stats.ReplyMatching()) {
        std::snprintf(line, sizeof line, " rtt p50 %.3f p99 %.3f ms lost %" PRIu64, second.rtt.dP50Ms,
                      second.rtt.dP99Ms, pReplies->Totals().nLost);
        strLine += line;
    }
    if (m_pFaults) {
        // The kinds injected so far.
        const CFaultCounts counts = m_pFaults->Counts();
        strLine += " faults";
        for (size_t i = 0; i < CFaultCounts::kKinds; ++i) {
            if (counts.counts[i] > 0)
                strLine += std::string(" ") + CFaultCounts::Name(i) + " " + std::to_string(counts.counts[i]);
        }
        if (counts.Total() == 0)
            strLine += " 0";
    }
    if (const CHandshakeStats* pHandshakes = stats.Handshakes()) {
        const CHandshakeCounts counts = pHandshakes->Counts();
        strLine += " dtls open " + std::to_string(pHandshakes->Open()) + " handshakes " +
                   std::to_string(counts.nCompleted) + "/" + std::to_string(counts.nStarted) + " failed " +
                   std::to_string(counts.Failed());
    }
    if (second.bBehind)
        strLine += " BEHIND";
    Status(strLine);
}

void CRunPrinter::OnReply(const std::string& strImei, const CReplyReader::Reply& reply)
{
    std::fprintf(stdout, "reply IMEI %s from %s %zu bytes: %s\n", strImei.c_str(),
                 CTargetAddress::AddressText(reply.from).c_str(), reply.nLength,
                 CPrintable::Escape(reply.pData, reply.nLength).c_str());
    std::fflush(stdout);
}

void CRunPrinter::Summary(const CSendTotals& totals) const
{
    if (Quiet())
        return;
    std::printf("sent %llu datagrams in %.3f s (%.1f per second); %llu could not be sent",
                static_cast<unsigned long long>(totals.nSent), totals.dSeconds, totals.PerSecond(),
                static_cast<unsigned long long>(totals.nFailed));
    if (totals.nHeldAtStop > 0)
        std::printf(", %llu held back by the link at the stop and never sent",
                    static_cast<unsigned long long>(totals.nHeldAtStop));
    std::printf("\n");
}

void CRunPrinter::FleetSummary(const CRunRecord& record) const
{
    if (Quiet())
        return;
    std::printf("fleet: devices %" PRIu64 ", send errors %" PRIu64
                ", lateness p50 %.3f ms p99 %.3f ms max %.3f ms, replies %" PRIu64 "\n",
                record.nDevices, record.nErrors, record.lateness.dP50Ms, record.lateness.dP99Ms,
                record.lateness.dMaxMs, record.nReplies);
    if (const uint64_t nBehind = record.BehindSeconds())
        std::printf("fleet: fell behind its schedule in %" PRIu64 " of %zu seconds (lateness p99 above %.0f ms, or a "
                    "scheduler thread busy all second): those seconds measure this machine, not the server; give "
                    "the fleet more --threads, or more shards\n",
                    nBehind, record.series.size(), CFleetStats::kBehindLatenessMs);
    if (!record.replyMatching)
        return;
    const CRunRecord::ReplyMatching& matching = *record.replyMatching;
    const CReplyStats::Counts& counts = matching.counts;
    std::printf("replies: %" PRIu64 " matched, rtt p50 %.3f ms p99 %.3f ms max %.3f ms; datagrams lost %" PRIu64
                " (%" PRIu64 " evicted), untracked %" PRIu64 "; replies late %" PRIu64 ", duplicate %" PRIu64
                ", unmatched %" PRIu64 ", out of order %" PRIu64 "\n",
                counts.nMatched, matching.rtt.dP50Ms, matching.rtt.dP99Ms, matching.rtt.dMaxMs, counts.nLost,
                counts.nEvicted, counts.nUntracked, counts.nLate, counts.nDuplicate, counts.nUnmatched,
                counts.nOutOfOrder);
}

void CRunPrinter::DtlsSummary(const CFleetRun& run, const CRunRecord& record) const
{
    if (Quiet() || !record.handshakes)
        return;
    std::printf("dtls: %s\n", record.handshakes->Text().c_str());
    const std::vector<CDtlsDevices::Failing> failing = run.MostFailing(kFailingListed);
    if (failing.empty())
        return;
    std::string strLine = "dtls: devices failing most:";
    for (size_t i = 0; i < failing.size(); ++i) {
        const CDtlsDevices::Failing& device = failing[i];
        strLine += std::string(i == 0 ? " " : "; ") + "IMEI " +
                   run.GetPlan().ImeiText(run.GetLayout().nFirst + device.nDevice) + " " +
                   std::to_string(device.nFailures) + " (last " + CHandshakeCounts::Name(device.nLast) + ": " +
                   device.strLast + ")";
    }
    std::printf("%s\n", strLine.c_str());
}

void CRunPrinter::CapacitySummary(const CRunRecord::Capacity& capacity) const
{
    if (!Quiet()) {
        for (size_t i = 0; i < capacity.steps.size(); ++i) {
            const CRunRecord::CapacityStep& step = capacity.steps[i];
            std::string strLine = "step " + std::to_string(i + 1) + ": " + CCapacityVerdict::Rate(step.dRate) + ", " +
                                  std::to_string(step.nSeconds) + " s judged, sent " + CDecimal::Grouped(step.nSent);
            char figures[160];
            std::snprintf(figures, sizeof figures, ", late p99 %.3f ms", step.lateness.dP99Ms);
            strLine += figures;
            if (step.replies) {
                std::snprintf(figures, sizeof figures, ", rtt p50 %.3f p99 %.3f ms, reply loss %.4f",
                              step.replies->rtt.dP50Ms, step.replies->rtt.dP99Ms, step.replies->counts.LossShare());
                strLine += figures;
            }
            if (step.nBehindSeconds > 0)
                strLine += ", BEHIND " + std::to_string(step.nBehindSeconds) + " s";
            strLine += step.bHeld ? ": held" : ": crossed";
            for (const CVerdict& verdict : step.verdicts) {
                if (!verdict.bOk)
                    strLine += ", " + CThreshold::LineOf(verdict);
            }
            std::printf("%s\n", strLine.c_str());
        }
    }
    std::printf("%s\n", CCapacityVerdict::Sentence(capacity).c_str());
    std::fflush(stdout);
}

void CRunPrinter::TrafficSummary(const CRunRecord& record) const
{
    if (Quiet() || !record.bTraffic)
        return;
    std::string strLine = "traffic: seed " + std::to_string(record.nSeed) + "; faults injected:";
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
        strLine += std::string(i == 0 ? " " : ", ") + CFaultCounts::Name(i) + " " +
                   std::to_string(record.faults.counts[i]);
    strLine += "; held at the stop " + std::to_string(record.faults.nHeldAtStop);
    std::printf("%s\n", strLine.c_str());
}

