#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/CStatus.h"
#include "report/CRunReport.h"
#include "verdict/CThreshold.h"

// Reads the stats files of fleet runs (what tovrik-cli --stats-json writes)
// and merges the shards of one fleet into one report: the series aligned by
// wall-clock second with counts and devices summed, the whole run's
// quantiles from the merged lateness histogram. A second's p50 and p99 are
// the shards' figures weighted by their datagrams (the true quantile lies
// between the shards' lowest and highest); its maximum is exact. Errors name
// the file. One thread.
class CStatsMerger {
public:
    CStatsMerger();
    ~CStatsMerger();
    CStatsMerger(const CStatsMerger&) = delete;
    CStatsMerger& operator=(const CStatsMerger&) = delete;

    // Reads a file by its UTF-8 path and adds it. Fails, with a message that
    // names the file, when it cannot be read or is not a stats file.
    CStatus AddFile(const std::string& strPath);
    // Adds a stats file's text; strName names it in the report and in errors.
    CStatus AddText(const std::string& strName, std::string_view json);

    // Merges everything added. Fails when nothing was added, or the files are
    // not shards of one fleet (different shard counts or fleet sizes, a shard
    // twice, seconds too far apart to be one run).
    CStatus Merge(CRunReport& report) const;
    // The thresholds judged on a merged report's figures: the whole fleet's,
    // or a capacity search's each step, the capacity concluded anew.
    // Answers whether the verdict failed (a threshold crossed, no capacity
    // found or below the one required).
    static bool Judge(const std::vector<CThreshold>& thresholds, CRunReport& report);

    // Stats files larger than this are refused rather than read.
    static constexpr int64_t kMaxFileBytes = int64_t{1} << 30;

private:
    struct File;
    // Fails unless the files, in shard order, are shards of one fleet.
    static CStatus CheckShards(const std::vector<const File*>& files);
    // The files' seconds summed by wall-clock second, with the seconds no
    // shard counted as zeros.
    static CStatus MergeSeries(const std::vector<const File*>& files, CRunReport& report);
    // The replies matched to datagrams, where any file has them.
    static void MergeReplies(const std::vector<const File*>& files, CRunReport& report);
    // A capacity search's steps, where the files have one.
    static void MergeCapacity(const std::vector<const File*>& files, CRunReport& report);

    std::vector<File> m_files;
};
