#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "figures/CFaultCounts.h"
#include "figures/CLatencyHistogram.h"
#include "figures/CReplyStats.h"
#include "figures/CRunRecord.h"

// What a report shows of one fleet run, made of one or more shards' stats
// files: the whole run's figures, one entry per wall-clock second and the
// lateness histogram. A plain value.
struct CRunReport {
    // One stats file: where it came from and what it says of itself.
    struct Shard {
        std::string strSource;
        uint32_t nShard = 0;
        uint32_t nShards = 1;
        std::vector<std::string> commandLine;
        int64_t nStartUnixMs = 0;
        double dSeconds = 0;
    };

    struct Second {
        // Seconds since 1970-01-01 00:00:00 UTC at the second's start.
        int64_t nUnixSecond = 0;
        int64_t nDevices = 0;
        uint64_t nSent = 0;
        uint64_t nErrors = 0;
        uint64_t nReplies = 0;
        double dP50Ms = 0;
        double dP99Ms = 0;
        double dMaxMs = 0;
        // With replies matched: datagrams lost and round trips (p50 and p99
        // weighted by the shards' matched replies, as the lateness's).
        uint64_t nLost = 0;
        uint64_t nMatched = 0;
        double dRttP50Ms = 0;
        double dRttP99Ms = 0;
        double dRttMaxMs = 0;
        // Paced runs: the datagrams the rate asked for; whether any shard
        // fell behind in the second.
        double dTarget = 0;
        bool bBehind = false;
    };

    // A threshold's verdict, and the file that judged it.
    struct Verdict {
        std::string strSource;
        CVerdict verdict;
    };

    using Bucket = CLatencyHistogram::Bucket;

    // In shard order.
    std::vector<Shard> shards;
    // The shards of the fleet that no file was given for.
    std::vector<uint32_t> missingShards;
    uint64_t nDevices = 0;
    uint64_t nFleetDevices = 0;
    int nMode = 0;  // -1 when the shards ran different modes
    int64_t nStartUnixMs = 0;
    // From the first shard's start to the last shard's end.
    double dSeconds = 0;
    uint64_t nSent = 0;
    uint64_t nErrors = 0;
    uint64_t nReplies = 0;
    double dP50Ms = 0;
    double dP99Ms = 0;
    double dMaxMs = 0;
    double dCpuSeconds = 0;
    int64_t nMaxRssKb = 0;
    std::vector<Second> series;
    // Ascending, non-empty buckets only.
    std::vector<Bucket> histogram;
    std::vector<Verdict> verdicts;
    // Replies matched to datagrams, in any of the files: their counts and
    // round trips, the whole run's quantiles from the merged histogram.
    bool bRepliesMatched = false;
    CReplyStats::Counts replyCounts;
    double dRttP50Ms = 0;
    double dRttP99Ms = 0;
    double dRttMaxMs = 0;
    std::vector<Bucket> rttHistogram;
    // Runs with traffic options: the faults injected, summed, and the
    // shards' seeds, in shard order.
    bool bTraffic = false;
    CFaultCounts faults;
    std::vector<uint64_t> seeds;

    // Paced by an interval or a rate (any shard): the seconds have targets.
    bool bPaced = false;
    // Runs a threshold ended, by file.
    std::vector<std::pair<std::string, CRunRecord::Abort>> aborts;
    // A capacity search: its steps merged across the shards (those all of
    // them took at one rate), and what they found; strCapacityNote says
    // where the shards' searches went apart.
    std::optional<CRunRecord::Capacity> capacity;
    std::string strCapacityNote;
    // The whole fleet's figures as one record, for thresholds to judge.
    CRunRecord whole;
    // The thresholds judged on the merged figures (report --threshold).
    std::vector<CVerdict> mergedVerdicts;
    // A baseline run to compare with (report --baseline).
    std::shared_ptr<const CRunReport> pBaseline;
};
