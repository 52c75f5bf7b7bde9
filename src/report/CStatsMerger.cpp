#include "report/CStatsMerger.h"

#include <algorithm>
#include <map>

#include "figures/CMergedDurations.h"
#include "figures/CRunRecord.h"
#include "load/CFileReader.h"

namespace {

// A shard's handshakes added to the sums; their durations merged apart.
void AddHandshakes(const CHandshakeCounts& shard, std::optional<CHandshakeCounts>& sum, CMergedDurations& times)
{
    if (!sum)
        sum.emplace();
    sum->nStarted += shard.nStarted;
    sum->nCompleted += shard.nCompleted;
    sum->nResumed += shard.nResumed;
    for (size_t i = 0; i < CHandshakeCounts::kCauses; ++i)
        sum->failed[i] += shard.failed[i];
    sum->nRetransmissions += shard.nRetransmissions;
    sum->nUnsent += shard.nUnsent;
    times.Add(shard.timeHistogram, shard.time);
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
            sum.dTarget += entry.dTarget;
            sum.bBehind = sum.bBehind || entry.bBehind;
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
    CMergedDurations rtt;
    CRunRecord::ReplyMatching whole;
    for (const File* pFile : files) {
        if (!pFile->record.replyMatching)
            continue;
        const CRunRecord::ReplyMatching& matching = *pFile->record.replyMatching;
        report.bRepliesMatched = true;
        report.replyCounts.Add(matching.counts);
        whole.nTimeoutNs = matching.nTimeoutNs;
        whole.strMember = matching.strMember;
        rtt.Add(matching.rttHistogram, matching.rtt);
    }
    if (!report.bRepliesMatched)
        return;
    whole.counts = report.replyCounts;
    whole.rtt = rtt.Figures();
    whole.rttHistogram = rtt.Buckets();
    report.rttHistogram = whole.rttHistogram;
    report.dRttP50Ms = whole.rtt.dP50Ms;
    report.dRttP99Ms = whole.rtt.dP99Ms;
    report.dRttMaxMs = whole.rtt.dMaxMs;
    report.whole.replyMatching = std::move(whole);
}

void CStatsMerger::MergeCapacity(const std::vector<const File*>& files, CRunReport& report)
{
    std::vector<const CRunRecord::Capacity*> searches;
    for (const File* pFile : files) {
        if (pFile->record.capacity)
            searches.push_back(&*pFile->record.capacity);
    }
    if (searches.empty())
        return;
    if (searches.size() < files.size())
        report.strCapacityNote = "only " + std::to_string(searches.size()) + " of the files searched for a capacity";
    CRunRecord::Capacity merged = *searches.front();
    merged.steps.clear();
    for (size_t i = 0;; ++i) {
        bool bAll = true;
        bool bAny = false;
        for (const CRunRecord::Capacity* pSearch : searches) {
            bAll = bAll && i < pSearch->steps.size() && i < searches.front()->steps.size() &&
                   pSearch->steps[i].dRate == searches.front()->steps[i].dRate;
            bAny = bAny || i < pSearch->steps.size();
        }
        if (!bAll) {
            if (bAny)
                report.strCapacityNote = "the shards' searches went apart at step " + std::to_string(i + 1) +
                                         ": the steps from there on are left out";
            break;
        }
        CRunRecord::CapacityStep step = searches.front()->steps[i];
        step.nBehindSeconds = 0;
        step.nSent = 0;
        step.nErrors = 0;
        step.bHeld = true;
        step.verdicts.clear();
        CMergedDurations lateness;
        CMergedDurations rtt;
        CRunRecord::ReplyMatching replies;
        for (const CRunRecord::Capacity* pSearch : searches) {
            const CRunRecord::CapacityStep& part = pSearch->steps[i];
            step.nBehindSeconds += part.nBehindSeconds;
            step.nSent += part.nSent;
            step.nErrors += part.nErrors;
            lateness.Add(part.latenessHistogram, part.lateness);
            if (part.replies) {
                replies.counts.Add(part.replies->counts);
                rtt.Add(part.replies->rttHistogram, part.replies->rtt);
            }
            // Held when every shard held it; the thresholds the first that
            // did not crossed.
            if (step.bHeld && !part.bHeld)
                step.verdicts = part.verdicts;
            step.bHeld = step.bHeld && part.bHeld;
            merged.bComplete = merged.bComplete && pSearch->bComplete;
        }
        step.lateness = lateness.Figures();
        step.latenessHistogram = lateness.Buckets();
        if (searches.front()->steps[i].replies) {
            replies.rtt = rtt.Figures();
            replies.rttHistogram = rtt.Buckets();
            step.replies = std::move(replies);
        }
        merged.steps.push_back(std::move(step));
    }
    merged.Conclude();
    report.capacity = std::move(merged);
}

bool CStatsMerger::Judge(const std::vector<CThreshold>& thresholds, CRunReport& report)
{
    report.mergedVerdicts.clear();
    if (!report.capacity)
        return CThreshold::Judge(thresholds, CThreshold::FleetFigures(report.whole), report.mergedVerdicts);
    // A search's steps are judged one by one, as the search judged them.
    for (CRunRecord::CapacityStep& step : report.capacity->steps) {
        step.verdicts.clear();
        step.bHeld = !CThreshold::Judge(thresholds, CThreshold::FleetFigures(CRunRecord::OfStep(step)), step.verdicts);
    }
    report.capacity->Conclude();
    return !report.capacity->Found();
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
    CMergedDurations lateness;
    CMergedDurations handshakeTimes;
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
        lateness.Add(record.latenessHistogram, record.lateness);
        merged.dCpuSeconds += record.usage.dCpuSeconds;
        merged.nMaxRssKb = std::max(merged.nMaxRssKb, record.usage.nMaxRssKb);
        merged.bPaced = merged.bPaced || record.bPaced;
        if (record.abort)
            merged.aborts.emplace_back(pFile->strSource, *record.abort);
        for (const CVerdict& verdict : record.verdicts)
            merged.verdicts.push_back({pFile->strSource, verdict});
        if (record.bTraffic) {
            merged.bTraffic = true;
            merged.seeds.push_back(record.nSeed);
            for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
                merged.faults.counts[i] += record.faults.counts[i];
            merged.faults.nHeldAtStop += record.faults.nHeldAtStop;
        }
        if (record.handshakes)
            AddHandshakes(*record.handshakes, merged.whole.handshakes, handshakeTimes);
    }
    MergeReplies(files, merged);
    MergeCapacity(files, merged);
    for (; nNextShard < first.shard.Count(); ++nNextShard)
        merged.missingShards.push_back(nNextShard);
    merged.dSeconds = static_cast<double>(nEndMs - merged.nStartUnixMs) / 1000;
    const CStatus series = MergeSeries(files, merged);
    if (!series.IsOk())
        return series;
    CRunRecord& whole = merged.whole;
    whole.nSent = merged.nSent;
    whole.nErrors = merged.nErrors;
    whole.nReplies = merged.nReplies;
    whole.dSeconds = merged.dSeconds;
    whole.lateness = lateness.Figures();
    whole.latenessHistogram = lateness.Buckets();
    whole.bTraffic = merged.bTraffic;
    whole.faults = merged.faults;
    if (whole.handshakes) {
        whole.handshakes->time = handshakeTimes.Figures();
        whole.handshakes->timeHistogram = handshakeTimes.Buckets();
    }
    merged.histogram = whole.latenessHistogram;
    merged.dP50Ms = whole.lateness.dP50Ms;
    merged.dP99Ms = whole.lateness.dP99Ms;
    merged.dMaxMs = whole.lateness.dMaxMs;
    report = std::move(merged);
    return CStatus();
}
