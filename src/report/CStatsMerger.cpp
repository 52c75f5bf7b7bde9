#include "report/CStatsMerger.h"

#include <algorithm>
#include <limits>
#include <map>

#include "figures/CRunRecord.h"
#include "load/CFileReader.h"

namespace {

// Buckets of several files summed by their range.
using BucketCounts = std::map<std::pair<uint64_t, uint64_t>, uint64_t>;

void AddBuckets(BucketCounts& counts, const std::vector<CLatencyHistogram::Bucket>& buckets)
{
    for (const CLatencyHistogram::Bucket& bucket : buckets)
        counts[{bucket.nFromNs, bucket.nToNs}] += bucket.nCount;
}

std::vector<CLatencyHistogram::Bucket> NonEmpty(const BucketCounts& counts)
{
    std::vector<CLatencyHistogram::Bucket> buckets;
    for (const auto& bucket : counts) {
        if (bucket.second > 0)
            buckets.push_back({bucket.first.first, bucket.first.second, bucket.second});
    }
    return buckets;
}

}  // namespace

struct CStatsMerger::File {
    std::string strSource;
    CRunRecord record;
};

CStatsMerger::CStatsMerger() = default;
CStatsMerger::~CStatsMerger() = default;

CStatus CStatsMerger::AddFile(const std::string& strPath)
{
    std::string text;
    const CStatus read = CFileReader::ReadAll(strPath, kMaxFileBytes, "a stats file", text);
    if (!read.IsOk())
        return CStatus::Error(strPath + ": " + read.Message(), read.Code());
    return AddText(strPath, text);
}

CStatus CStatsMerger::AddText(const std::string& strName, std::string_view json)
{
    File file;
    file.strSource = strName;
    const CStatus read = CRunRecord::Read(json, file.record);
    if (!read.IsOk())
        return CStatus::Error(strName + ": " + read.Message());
    m_files.push_back(std::move(file));
    return CStatus();
}

CStatus CStatsMerger::CheckShards(const std::vector<const File*>& files)
{
    const File& first = *files.front();
    for (size_t i = 1; i < files.size(); ++i) {
        const File& file = *files[i];
        const CRunRecord& a = first.record;
        const CRunRecord& b = file.record;
        const std::string strBoth = first.strSource + " and " + file.strSource;
        if (b.shard.Count() != a.shard.Count())
            return CStatus::Error(strBoth + " are not shards of one fleet (of " + std::to_string(a.shard.Count()) +
                                  " and of " + std::to_string(b.shard.Count()) + " shards)");
        if (b.nFleetDevices != a.nFleetDevices)
            return CStatus::Error(strBoth + " are not shards of one fleet (of " + std::to_string(a.nFleetDevices) +
                                  " and of " + std::to_string(b.nFleetDevices) + " devices)");
        // In shard order, a shard given twice sits next to itself.
        if (b.shard == files[i - 1]->record.shard)
            return CStatus::Error(files[i - 1]->strSource + " and " + file.strSource + " are both shard " +
                                  b.shard.Text());
    }
    return CStatus();
}

CStatus CStatsMerger::MergeSeries(const std::vector<const File*>& files, CRunReport& report)
{
    std::map<int64_t, CRunReport::Second> seconds;
    // The weights of the seconds' p50 and p99: their datagrams.
    std::map<int64_t, double> weights;
    for (const File* pFile : files) {
        const CRunRecord& record = pFile->record;
        for (const CRunRecord::Second& entry : record.series) {
            // Second t covers [start + t - 1, start + t): it counts for the
            // wall-clock second nearest to its beginning.
            const int64_t nSecond = (record.nStartUnixMs + static_cast<int64_t>(entry.nT - 1) * 1000 + 500) / 1000;
            CRunReport::Second& sum = seconds[nSecond];
            const double dWeight = static_cast<double>(entry.nSent + entry.nErrors);
            sum.nUnixSecond = nSecond;
            sum.nDevices += entry.nDevices;
            sum.nSent += entry.nSent;
            sum.nErrors += entry.nErrors;
            sum.nReplies += entry.nReplies;
            sum.dP50Ms += entry.lateness.dP50Ms * dWeight;
            sum.dP99Ms += entry.lateness.dP99Ms * dWeight;
            sum.dMaxMs = std::max(sum.dMaxMs, entry.lateness.dMaxMs);
            weights[nSecond] += dWeight;
            sum.nLost += entry.replies.nLost;
            sum.nMatched += entry.replies.nMatched;
            const double dMatched = static_cast<double>(entry.replies.nMatched);
            sum.dRttP50Ms += entry.rtt.dP50Ms * dMatched;
            sum.dRttP99Ms += entry.rtt.dP99Ms * dMatched;
            sum.dRttMaxMs = std::max(sum.dRttMaxMs, entry.rtt.dMaxMs);
        }
    }
    if (seconds.empty())
        return CStatus();
    const int64_t nFirst = seconds.begin()->first;
    const int64_t nLast = seconds.rbegin()->first;
    if (nLast - nFirst >= CRunRecord::kMaxSeconds)
        return CStatus::Error("the files' seconds are more than " + std::to_string(CRunRecord::kMaxSeconds) +
                              " s apart: not one run");
    report.series.reserve(static_cast<size_t>(nLast - nFirst + 1));
    for (int64_t nSecond = nFirst; nSecond <= nLast; ++nSecond) {
        const auto found = seconds.find(nSecond);
        CRunReport::Second second;
        second.nUnixSecond = nSecond;
        if (found != seconds.end()) {
            second = found->second;
            const double dWeight = weights[nSecond];
            second.dP50Ms = dWeight > 0 ? second.dP50Ms / dWeight : 0;
            second.dP99Ms = dWeight > 0 ? second.dP99Ms / dWeight : 0;
            const double dMatched = static_cast<double>(second.nMatched);
            second.dRttP50Ms = dMatched > 0 ? second.dRttP50Ms / dMatched : 0;
            second.dRttP99Ms = dMatched > 0 ? second.dRttP99Ms / dMatched : 0;
        }
        report.series.push_back(second);
    }
    return CStatus();
}

void CStatsMerger::MergeReplies(const std::vector<const File*>& files, CRunReport& report)
{
    BucketCounts buckets;
    double dMinMs = std::numeric_limits<double>::infinity();
    for (const File* pFile : files) {
        if (!pFile->record.replyMatching)
            continue;
        const CRunRecord::ReplyMatching& matching = *pFile->record.replyMatching;
        CReplyStats::Counts& sum = report.replyCounts;
        report.bRepliesMatched = true;
        sum.nMatched += matching.counts.nMatched;
        sum.nLost += matching.counts.nLost;
        sum.nEvicted += matching.counts.nEvicted;
        sum.nLate += matching.counts.nLate;
        sum.nDuplicate += matching.counts.nDuplicate;
        sum.nUnmatched += matching.counts.nUnmatched;
        sum.nOutOfOrder += matching.counts.nOutOfOrder;
        sum.nUntracked += matching.counts.nUntracked;
        report.dRttMaxMs = std::max(report.dRttMaxMs, matching.rtt.dMaxMs);
        if (matching.rtt.nCount > 0)
            dMinMs = std::min(dMinMs, matching.rtt.dMinMs);
        AddBuckets(buckets, matching.rttHistogram);
    }
    report.rttHistogram = NonEmpty(buckets);
    const CLatencyHistogram::Figures figures =
        CLatencyHistogram::Quantiles(report.rttHistogram, dMinMs, report.dRttMaxMs);
    report.dRttP50Ms = figures.dP50Ms;
    report.dRttP99Ms = figures.dP99Ms;
}

CStatus CStatsMerger::Merge(CRunReport& report) const
{
    if (m_files.empty())
        return CStatus::Error("no stats file to make a report of");
    std::vector<const File*> files;
    for (const File& file : m_files)
        files.push_back(&file);
    std::stable_sort(files.begin(), files.end(), [](const File* a, const File* b) {
        return a->record.shard.Index() < b->record.shard.Index();
    });
    const CStatus checked = CheckShards(files);
    if (!checked.IsOk())
        return checked;

    const CRunRecord& first = files.front()->record;
    CRunReport merged;
    merged.nFleetDevices = first.nFleetDevices;
    merged.nMode = first.nMode;
    merged.nStartUnixMs = first.nStartUnixMs;
    int64_t nEndMs = first.nStartUnixMs;
    uint32_t nNextShard = 0;
    BucketCounts buckets;
    double dMinMs = std::numeric_limits<double>::infinity();
    for (const File* pFile : files) {
        const CRunRecord& record = pFile->record;
        merged.shards.push_back(
            {pFile->strSource, record.shard.Index(), record.shard.Count(), record.commandLine, record.nStartUnixMs,
             record.dSeconds});
        for (; nNextShard < record.shard.Index(); ++nNextShard)
            merged.missingShards.push_back(nNextShard);
        nNextShard = record.shard.Index() + 1;
        merged.nDevices += record.nDevices;
        if (record.nMode != merged.nMode)
            merged.nMode = -1;
        merged.nStartUnixMs = std::min(merged.nStartUnixMs, record.nStartUnixMs);
        nEndMs = std::max(nEndMs, record.nStartUnixMs + static_cast<int64_t>(record.dSeconds * 1000 + 0.5));
        merged.nSent += record.nSent;
        merged.nErrors += record.nErrors;
        merged.nReplies += record.nReplies;
        merged.dMaxMs = std::max(merged.dMaxMs, record.lateness.dMaxMs);
        if (record.lateness.nCount > 0)
            dMinMs = std::min(dMinMs, record.lateness.dMinMs);
        merged.dCpuSeconds += record.usage.dCpuSeconds;
        merged.nMaxRssKb = std::max(merged.nMaxRssKb, record.usage.nMaxRssKb);
        AddBuckets(buckets, record.latenessHistogram);
        for (const CVerdict& verdict : record.verdicts)
            merged.verdicts.push_back({pFile->strSource, verdict});
        if (record.bTraffic) {
            merged.bTraffic = true;
            merged.seeds.push_back(record.nSeed);
            for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
                merged.faults.counts[i] += record.faults.counts[i];
            merged.faults.nHeldAtStop += record.faults.nHeldAtStop;
        }
    }
    MergeReplies(files, merged);
    for (; nNextShard < first.shard.Count(); ++nNextShard)
        merged.missingShards.push_back(nNextShard);
    merged.dSeconds = static_cast<double>(nEndMs - merged.nStartUnixMs) / 1000;
    const CStatus series = MergeSeries(files, merged);
    if (!series.IsOk())
        return series;
    merged.histogram = NonEmpty(buckets);
    const CLatencyHistogram::Figures figures = CLatencyHistogram::Quantiles(merged.histogram, dMinMs, merged.dMaxMs);
    merged.dP50Ms = figures.dP50Ms;
    merged.dP99Ms = figures.dP99Ms;
    report = std::move(merged);
    return CStatus();
}
