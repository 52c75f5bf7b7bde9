#include "metrics/CMetricsText.h"

#include <cinttypes>
#include <cstdio>

#include "figures/CFaultStats.h"
#include "figures/CFleetStats.h"

namespace {

void AppendHead(std::string& out, const char* pszName, const char* pszType, const char* pszHelp)
{
    out += "# HELP ";
    out += pszName;
    out += ' ';
    out += pszHelp;
    out += "\n# TYPE ";
    out += pszName;
    out += ' ';
    out += pszType;
    out += '\n';
}

void AppendSample(std::string& out, const char* pszName, const std::string& strLabels, const std::string& strValue)
{
    out += pszName;
    out += '{';
    out += strLabels;
    out += "} ";
    out += strValue;
    out += '\n';
}

void AppendMetric(std::string& out, const char* pszName, const char* pszType, const char* pszHelp,
                  const std::string& strLabels, const std::string& strValue)
{
    AppendHead(out, pszName, pszType, pszHelp);
    AppendSample(out, pszName, strLabels, strValue);
}

// Nanoseconds as exact decimal seconds.
std::string SecondsText(uint64_t nNs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%09" PRIu64, nNs / 1000000000, nNs % 1000000000);
    return text;
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

    const char* const pszBucket = "tovrik_lateness_seconds_bucket";
    AppendHead(out, "tovrik_lateness_seconds", "histogram",
               "Lateness of each datagram, sent or not, against its scheduled instant.");
    const CLatencyFigures::Cumulative buckets = stats.FixedBuckets();
    const std::vector<int64_t>& edgesNs = CFleetStats::LatenessEdgesNs();
    for (size_t i = 0; i < edgesNs.size(); ++i) {
        char edge[32];
        std::snprintf(edge, sizeof edge, "%g", static_cast<double>(edgesNs[i]) / 1e9);
        AppendSample(out, pszBucket, m_strShard + ",le=\"" + edge + "\"", std::to_string(buckets.counts[i]));
    }
    const std::string strCount = std::to_string(buckets.counts.back());
    AppendSample(out, pszBucket, m_strShard + ",le=\"+Inf\"", strCount);
    AppendSample(out, "tovrik_lateness_seconds_sum", m_strShard, SecondsText(buckets.nSumNs));
    AppendSample(out, "tovrik_lateness_seconds_count", m_strShard, strCount);
    return out;
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
    return out;
}
