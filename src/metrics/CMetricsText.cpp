#include "metrics/CMetricsText.h"

#include <cinttypes>
#include <cstdio>
#include <optional>

#include "figures/CFaultStats.h"
#include "figures/CHandshakeStats.h"
#include "figures/CFleetStats.h"
#include "metrics/MetricsExposition.h"

namespace {

using MetricsExposition::AppendHead;
using MetricsExposition::AppendMetric;
using MetricsExposition::AppendSample;

// Nanoseconds as exact decimal seconds.
std::string SecondsText(uint64_t nNs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%09" PRIu64, nNs / 1000000000, nNs % 1000000000);
    return text;
}

// Datagrams a second, to a tenth.
std::string RateText(double dPerSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", dPerSecond);
    return text;
}

// A histogram of durations in seconds: its fixed buckets, sum and count.
void AppendHistogram(std::string& out, const std::string& strName, const char* pszHelp, const std::string& strLabels,
                     const std::vector<int64_t>& edgesNs, const CLatencyFigures::Cumulative& buckets)
{
    const std::string strBucket = strName + "_bucket";
    AppendHead(out, strName.c_str(), "histogram", pszHelp);
    for (size_t i = 0; i < edgesNs.size(); ++i) {
        char edge[32];
        std::snprintf(edge, sizeof edge, "%g", static_cast<double>(edgesNs[i]) / 1e9);
        AppendSample(out, strBucket.c_str(), strLabels + ",le=\"" + edge + "\"", std::to_string(buckets.counts[i]));
    }
    const std::string strCount = std::to_string(buckets.counts.back());
    AppendSample(out, strBucket.c_str(), strLabels + ",le=\"+Inf\"", strCount);
    AppendSample(out, (strName + "_sum").c_str(), strLabels, SecondsText(buckets.nSumNs));
    AppendSample(out, (strName + "_count").c_str(), strLabels, strCount);
}

}  // namespace

CMetricsText::CMetricsText(const CShard& shard, uint64_t nDevices)
    : m_strShard("shard=\"" + shard.Text() + "\""), m_nDevices(nDevices)
{
}

std::string CMetricsText::Text(const CFleetStats& stats) const
{
    std::string out;
    out.reserve(2048);
    AppendMetric(out, "tovrik_datagrams_sent_total", "counter", "Datagrams sent.", m_strShard,
                 std::to_string(stats.Sent()));
    AppendMetric(out, "tovrik_send_errors_total", "counter", "Datagrams that could not be sent.", m_strShard,
                 std::to_string(stats.Errors()));
    AppendMetric(out, "tovrik_replies_total", "counter", "Datagrams received on the devices' sockets (--replies).",
                 m_strShard, std::to_string(stats.Replies()));
    AppendMetric(out, "tovrik_devices_active", "gauge", "Devices still running.", m_strShard,
                 std::to_string(stats.Devices()));
    AppendMetric(out, "tovrik_devices", "gauge", "Devices of this process.", m_strShard, std::to_string(m_nDevices));
    AppendMetric(out, "tovrik_target_rate", "gauge",
                 "Datagrams a second the rate asked of this process in the last second (0 when not paced by a rate).",
                 m_strShard, RateText(stats.LastTarget()));
    AppendMetric(out, "tovrik_behind", "gauge",
                 "1 when the fleet fell behind its schedule in the last second (its lateness p99 above 100 ms, or a "
                 "scheduler thread busy all of it): its figures then measure this machine, not the server.",
                 m_strShard, stats.LastBehind() ? "1" : "0");
    AppendMetric(out, "tovrik_behind_seconds_total", "counter", "Seconds in which the fleet fell behind its schedule.",
                 m_strShard, std::to_string(stats.BehindSeconds()));

    if (const std::optional<CFleetStats::Search> search = stats.SearchNow()) {
        AppendMetric(out, "tovrik_capacity_search_rate", "gauge",
                     "Datagrams a second the capacity search asks of the whole fleet now.", m_strShard,
                     RateText(search->dRate));
        AppendMetric(out, "tovrik_capacity_steps_total", "counter", "Steps of the capacity search judged.",
                     m_strShard, std::to_string(search->nSteps));
        AppendMetric(out, "tovrik_capacity_rate", "gauge",
                     "The capacity found so far: the highest rate that held every threshold below the lowest that "
                     "crossed one (NaN while none held, or once the fleet itself fell behind).",
                     m_strShard, search->dCapacity ? RateText(*search->dCapacity) : "NaN");
        AppendMetric(out, "tovrik_capacity_crossed_rate", "gauge",
                     "The lowest rate of the search that crossed a threshold (NaN while none has).", m_strShard,
                     search->dCrossedAt ? RateText(*search->dCrossedAt) : "NaN");
        AppendMetric(out, "tovrik_capacity_search_done", "gauge", "1 once the capacity search has ended.",
                     m_strShard, search->bDone ? "1" : "0");
    }
    AppendHistogram(out, "tovrik_lateness_seconds", "Lateness of each datagram, sent or not, against its scheduled instant.",
                    m_strShard, CFleetStats::LatenessEdgesNs(), stats.FixedBuckets());
    if (const CReplyStats* pReplies = stats.ReplyMatching()) {
        const CReplyStats::Counts counts = pReplies->Totals();
        AppendMetric(out, "tovrik_replies_lost_total", "counter", "Datagrams no reply answered within the timeout.",
                     m_strShard, std::to_string(counts.nLost));
        AppendMetric(out, "tovrik_replies_late_total", "counter", "Replies to datagrams already lost.", m_strShard,
                     std::to_string(counts.nLate));
        AppendMetric(out, "tovrik_replies_duplicate_total", "counter", "Replies to datagrams already answered.",
                     m_strShard, std::to_string(counts.nDuplicate));
        AppendMetric(out, "tovrik_replies_unmatched_total", "counter", "Replies that answer no datagram.",
                     m_strShard, std::to_string(counts.nUnmatched));
        AppendHistogram(out, "tovrik_reply_rtt_seconds", "Round trip of each reply matched to its datagram.",
                        m_strShard, pReplies->FixedEdgesNs(), pReplies->FixedBuckets());
    }
    if (const CHandshakeStats* pHandshakes = stats.Handshakes())
        AppendHandshakes(out, *pHandshakes);
    return out;
}

void CMetricsText::AppendHandshakes(std::string& out, const CHandshakeStats& handshakes) const
{
    const CHandshakeCounts counts = handshakes.Counts();
    AppendMetric(out, "tovrik_dtls_handshakes_started_total", "counter", "DTLS handshakes the devices started.",
                 m_strShard, std::to_string(counts.nStarted));
    AppendMetric(out, "tovrik_dtls_handshakes_completed_total", "counter", "DTLS handshakes completed.", m_strShard,
                 std::to_string(counts.nCompleted));
    AppendMetric(out, "tovrik_dtls_handshakes_resumed_total", "counter",
                 "DTLS handshakes completed by resuming a session.", m_strShard, std::to_string(counts.nResumed));
    const char* const pszFailed = "tovrik_dtls_handshake_failures_total";
    AppendHead(out, pszFailed, "counter", "DTLS handshakes failed, by cause.");
    for (size_t i = 0; i < CHandshakeCounts::kCauses; ++i)
        AppendSample(out, pszFailed, m_strShard + ",cause=\"" + CHandshakeCounts::Name(i) + "\"",
                     std::to_string(counts.failed[i]));
    AppendMetric(out, "tovrik_dtls_retransmissions_total", "counter", "Handshake flights sent again.", m_strShard,
                 std::to_string(counts.nRetransmissions));
    AppendMetric(out, "tovrik_dtls_sessions_open", "gauge", "DTLS sessions open now.", m_strShard,
                 std::to_string(handshakes.Open()));
    const auto seconds = [](double dMs) { return SecondsText(static_cast<uint64_t>(dMs * 1e6)); };
    AppendMetric(out, "tovrik_dtls_handshake_p50_seconds", "gauge", "Median of the completed handshakes' durations.",
                 m_strShard, seconds(counts.time.dP50Ms));
    AppendMetric(out, "tovrik_dtls_handshake_p99_seconds", "gauge", "p99 of the completed handshakes' durations.",
                 m_strShard, seconds(counts.time.dP99Ms));
    AppendMetric(out, "tovrik_dtls_handshake_max_seconds", "gauge", "The longest completed handshake.", m_strShard,
                 seconds(counts.time.dMaxMs));
}

std::string CMetricsText::FaultText(const CFaultStats& faults) const
{
    std::string out;
    const char* const pszName = "tovrik_faults_injected_total";
    AppendHead(out, pszName, "counter",
               "Faults injected by kind: datagrams lost, duplicated, reordered, delayed (jitter) or corrupted, "
               "dropouts (churn), devices silenced by an outage, packets not sent while offline.");
    const CFaultCounts counts = faults.Counts();
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
        AppendSample(out, pszName, m_strShard + ",kind=\"" + CFaultCounts::Name(i) + "\"",
                     std::to_string(counts.counts[i]));
    const char* const pszHeld = "tovrik_datagrams_held_at_stop";
    AppendHead(out, pszHeld, "gauge",
               "Datagrams the link still held back (jitter, reordering, late copies) when the run stopped: never "
               "sent.");
    AppendSample(out, pszHeld, m_strShard, std::to_string(counts.nHeldAtStop));
    return out;
}
