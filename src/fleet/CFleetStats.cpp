#include "fleet/CFleetStats.h"

#include <sys/resource.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>

#include "packet/CJsonText.h"
#include "text/CUtf8.h"

namespace {

constexpr double kNsPerMs = 1e6;

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

void Appendf(std::string& out, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

void Appendf(std::string& out, const char* pszFormat, ...)
{
    char text[512];
    va_list args;
    va_start(args, pszFormat);
    const int n = std::vsnprintf(text, sizeof text, pszFormat, args);
    va_end(args);
    if (n > 0)
        out.append(text, std::min(static_cast<size_t>(n), sizeof text - 1));
}

}  // namespace

const std::array<uint8_t, CFleetStats::kBuckets> CFleetStats::s_fixedOfBucket = CFleetStats::FixedTable();

CFleetStats::CFleetStats() = default;

int CFleetStats::BucketOf(int64_t nNs)
{
    if (nNs < kSubBuckets)
        return nNs < 0 ? 0 : static_cast<int>(nNs);
    const int nExponent = 63 - __builtin_clzll(static_cast<uint64_t>(nNs));  // >= 4
    const int nSub = static_cast<int>((static_cast<uint64_t>(nNs) >> (nExponent - 4)) & (kSubBuckets - 1));
    const int nBucket = kSubBuckets + (nExponent - 4) * kSubBuckets + nSub;
    return nBucket < kBuckets ? nBucket : kBuckets - 1;
}

void CFleetStats::BucketRange(int nBucket, int64_t& nFrom, int64_t& nWidth)
{
    if (nBucket < kSubBuckets) {
        nFrom = nBucket;
        nWidth = 1;
        return;
    }
    // Lateness is at most INT64_MAX, so the buckets above 2^62 ns are never
    // filled and never asked for.
    const int nExponent = std::min((nBucket - kSubBuckets) / kSubBuckets + 4, 62);
    const int nSub = (nBucket - kSubBuckets) % kSubBuckets;
    nWidth = int64_t{1} << (nExponent - 4);
    nFrom = (int64_t{1} << nExponent) + nSub * nWidth;
}

double CFleetStats::BucketMiddleMs(int nBucket)
{
    int64_t nFrom = 0;
    int64_t nWidth = 0;
    BucketRange(nBucket, nFrom, nWidth);
    // The narrowest buckets hold one value each.
    if (nWidth == 1)
        return static_cast<double>(nFrom) / kNsPerMs;
    return (static_cast<double>(nFrom) + static_cast<double>(nWidth) / 2) / kNsPerMs;
}

std::array<uint8_t, CFleetStats::kBuckets> CFleetStats::FixedTable()
{
    std::array<uint8_t, kBuckets> table{};
    for (int i = 0; i < kBuckets; ++i) {
        int64_t nFrom = 0;
        int64_t nWidth = 0;
        BucketRange(i, nFrom, nWidth);
        size_t nEdge = 0;
        while (nEdge < kFixedEdges && kFixedEdgesNs[nEdge] < nFrom)
            ++nEdge;
        table[static_cast<size_t>(i)] = static_cast<uint8_t>(nEdge);
    }
    return table;
}

void CFleetStats::Histogram::Add(int64_t nNs, int nBucket)
{
    counts[static_cast<size_t>(nBucket)].fetch_add(1, std::memory_order_relaxed);
    int64_t nOld = nMax.load(std::memory_order_relaxed);
    while (nNs > nOld && !nMax.compare_exchange_weak(nOld, nNs, std::memory_order_relaxed)) {
    }
}

CFleetStats::Snapshot CFleetStats::Histogram::Read() const
{
    Snapshot snapshot;
    for (size_t i = 0; i < counts.size(); ++i)
        snapshot.counts[i] = counts[i].load(std::memory_order_relaxed);
    snapshot.nMax = nMax.load();
    return snapshot;
}

CFleetStats::Snapshot CFleetStats::Histogram::Take()
{
    Snapshot snapshot;
    for (size_t i = 0; i < counts.size(); ++i)
        snapshot.counts[i] = counts[i].exchange(0, std::memory_order_relaxed);
    snapshot.nMax = nMax.exchange(0);
    return snapshot;
}

CFleetStats::Lateness CFleetStats::Figures(const Snapshot& snapshot)
{
    Lateness figures;
    for (const uint64_t nBucket : snapshot.counts)
        figures.nCount += nBucket;
    figures.dMaxMs = static_cast<double>(snapshot.nMax) / kNsPerMs;
    if (figures.nCount == 0)
        return figures;
    const uint64_t nP50 = (figures.nCount + 1) / 2;
    const uint64_t nP99 = figures.nCount - figures.nCount / 100;
    uint64_t nSeen = 0;
    bool bP50 = false;
    for (int i = 0; i < kBuckets; ++i) {
        nSeen += snapshot.counts[static_cast<size_t>(i)];
        if (!bP50 && nSeen >= nP50) {
            figures.dP50Ms = std::min(BucketMiddleMs(i), figures.dMaxMs);
            bP50 = true;
        }
        if (nSeen >= nP99) {
            figures.dP99Ms = std::min(BucketMiddleMs(i), figures.dMaxMs);
            break;
        }
    }
    return figures;
}

void CFleetStats::RecordSend(bool bSent, int64_t nLatenessNs)
{
    (bSent ? m_nSent : m_nErrors).fetch_add(1, std::memory_order_relaxed);
    const int64_t nLate = nLatenessNs < 0 ? 0 : nLatenessNs;
    const int nBucket = BucketOf(nLate);
    m_total.Add(nLate, nBucket);
    m_second.Add(nLate, nBucket);
    size_t nFixed = s_fixedOfBucket[static_cast<size_t>(nBucket)];
    if (nFixed < kFixedEdges && nLate > kFixedEdgesNs[nFixed])
        ++nFixed;
    m_fixed[nFixed].fetch_add(1, std::memory_order_relaxed);
    m_nLateSumNs.fetch_add(static_cast<uint64_t>(nLate), std::memory_order_relaxed);
}

void CFleetStats::RecordReply(size_t nBytes)
{
    m_nReplies.fetch_add(1, std::memory_order_relaxed);
    m_nReplyBytes.fetch_add(nBytes, std::memory_order_relaxed);
}

CFleetStats::Second CFleetStats::Sample()
{
    Second second;
    const uint64_t nSent = Sent();
    const uint64_t nErrors = Errors();
    const uint64_t nReplies = Replies();
    second.nDevices = Devices();
    second.nOnline = Online();
    second.nSent = nSent - m_nLastSent;
    second.nErrors = nErrors - m_nLastErrors;
    second.nReplies = nReplies - m_nLastReplies;
    second.lateness = Figures(m_second.Take());
    m_nLastSent = nSent;
    m_nLastErrors = nErrors;
    m_nLastReplies = nReplies;
    m_series.push_back(second);
    return second;
}

CFleetStats::Lateness CFleetStats::Total() const
{
    return Figures(m_total.Read());
}

CFleetStats::Cumulative CFleetStats::FixedBuckets() const
{
    Cumulative cumulative;
    uint64_t nBelow = 0;
    for (size_t i = 0; i < m_fixed.size(); ++i) {
        nBelow += m_fixed[i].load(std::memory_order_relaxed);
        cumulative.counts[i] = nBelow;
    }
    cumulative.nSumNs = m_nLateSumNs.load(std::memory_order_relaxed);
    return cumulative;
}

std::string CFleetStats::StatusLine(const Second& second) const
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "devices %" PRId64 " sent %" PRIu64 " %" PRIu64 "/s errors %" PRIu64
                  " late p50 %.3f p99 %.3f max %.3f ms replies %" PRIu64 " online %" PRIu64 "/%" PRId64,
                  second.nDevices, Sent(), second.nSent, Errors(), second.lateness.dP50Ms,
                  second.lateness.dP99Ms, second.lateness.dMaxMs, Replies(), second.nOnline,
                  m_nAllDevices.load());
    return line;
}

std::string CFleetStats::SummaryLine(uint64_t nDevices) const
{
    const Lateness total = Total();
    char line[256];
    std::snprintf(line, sizeof line,
                  "fleet: devices %" PRIu64 ", send errors %" PRIu64
                  ", lateness p50 %.3f ms p99 %.3f ms max %.3f ms, replies %" PRIu64,
                  nDevices, Errors(), total.dP50Ms, total.dP99Ms, total.dMaxMs, Replies());
    return line;
}

std::string CFleetStats::Json(const Identity& identity, double dSeconds) const
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const Lateness total = Total();
    std::string out;
    out.reserve(512 + m_series.size() * 128);
    Appendf(out,
            "{\"devices\":%" PRIu64 ",\"first_device\":%" PRIu64 ",\"fleet_devices\":%" PRIu64
            ",\"mode\":%d,\"threads\":%d,\"seconds\":%.3f,\"sent\":%" PRIu64 ",\"send_errors\":%" PRIu64
            ",\"replies\":%" PRIu64 ",\"reply_bytes\":%" PRIu64
            ",\"lateness_ms\":{\"p50\":%.3f,\"p99\":%.3f,\"max\":%.3f},\"cpu_seconds\":%.3f,\"max_rss_kb\":%ld,"
            "\"series\":[",
            identity.nDevices, identity.nFirstDevice, identity.nFleetDevices, identity.nMode, identity.nThreads,
            dSeconds, Sent(), Errors(), Replies(), m_nReplyBytes.load(), total.dP50Ms, total.dP99Ms, total.dMaxMs,
            Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss);
    for (size_t i = 0; i < m_series.size(); ++i) {
        const Second& s = m_series[i];
        Appendf(out,
                "%s{\"t\":%zu,\"devices\":%" PRId64 ",\"sent\":%" PRIu64 ",\"send_errors\":%" PRIu64
                ",\"replies\":%" PRIu64 ",\"p50_ms\":%.3f,\"p99_ms\":%.3f,\"max_ms\":%.3f,\"online\":%" PRIu64 "}",
                i == 0 ? "" : ",", i + 1, s.nDevices, s.nSent, s.nErrors, s.nReplies, s.lateness.dP50Ms,
                s.lateness.dP99Ms, s.lateness.dMaxMs, s.nOnline);
    }
    // Arguments are bytes on Linux; the file stays UTF-8 whatever they hold.
    out += "],\"command_line\":[";
    for (size_t i = 0; i < identity.commandLine.size(); ++i) {
        if (i > 0)
            out.push_back(',');
        CJsonText::AppendString(out, CUtf8::Valid(identity.commandLine[i]));
    }
    Appendf(out, "],\"start_unix_ms\":%" PRId64 ",\"shard\":\"%" PRIu32 "/%" PRIu32 "\",\"lateness_histogram_ns\":[",
            identity.nStartUnixMs, identity.nShard, identity.nShards);
    bool bFirst = true;
    for (int i = 0; i < kBuckets; ++i) {
        const uint64_t nCount = m_total.counts[static_cast<size_t>(i)].load(std::memory_order_relaxed);
        if (nCount == 0)
            continue;
        int64_t nFrom = 0;
        int64_t nWidth = 0;
        BucketRange(i, nFrom, nWidth);
        Appendf(out, "%s[%" PRId64 ",%" PRId64 ",%" PRIu64 "]", bFirst ? "" : ",", nFrom, nFrom + nWidth, nCount);
        bFirst = false;
    }
    out += "],\"thresholds\":[";
    for (size_t i = 0; i < identity.verdicts.size(); ++i) {
        const Identity::Verdict& verdict = identity.verdicts[i];
        out += i > 0 ? ",{\"expression\":" : "{\"expression\":";
        CJsonText::AppendString(out, CUtf8::Valid(verdict.strExpression));
        Appendf(out, ",\"value\":%.6g,\"ok\":%s}", verdict.dValue, verdict.bOk ? "true" : "false");
    }
    out += "]}\n";
    return out;
}
