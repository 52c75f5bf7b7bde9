#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/CProcessUsage.h"
#include "base/CStatus.h"
#include "figures/CFaultCounts.h"
#include "figures/CHandshakeCounts.h"
#include "figures/CLatencyHistogram.h"
#include "figures/CReplyStats.h"
#include "figures/CShard.h"
#include "figures/CVerdict.h"

// What a fleet run (or one shard of it) records of itself, as its stats
// file holds it: who ran, the whole run's figures, one entry per second,
// the lateness histogram and the thresholds' verdicts. Json writes the file's
// text and Read reads it back: the one place that knows its form. Files of
// earlier versions read too (the members marked optional may be missing). A
// plain value; any thread.
struct CRunRecord {
    // Second nT of the run (1 for the first) covers [start + nT - 1,
    // start + nT).
    struct Second {
        uint64_t nT = 0;
        int64_t nDevices = 0;  // still running at its end
        uint64_t nOnline = 0;  // optional: online at its end
        uint64_t nSent = 0;
        uint64_t nErrors = 0;
        uint64_t nReplies = 0;
        CLatencyHistogram::Figures lateness;  // of the second's datagrams
        // With replies matched: the second's counts and round trips.
        CReplyStats::Counts replies;
        CLatencyHistogram::Figures rtt;
        // Optional: paced by a rate, the datagrams the rate asked of this
        // process in the second.
        double dTarget = 0;
        // Optional: the fleet itself fell behind its schedule in the second
        // (its lateness, or a scheduler thread busy all of it): its figures
        // measure this machine, not the server.
        bool bBehind = false;
    };

    // Replies matched to the datagrams they answer (--replies).
    struct ReplyMatching {
        // The root member replies are matched by; empty: by order.
        std::string strMember;
        int64_t nTimeoutNs = 0;
        CReplyStats::Counts counts;
        CLatencyHistogram::Figures rtt;
        // Non-empty buckets, ascending.
        std::vector<CLatencyHistogram::Bucket> rttHistogram;
    };

    // A run that a threshold ended (--abort-on-fail): the first crossing,
    // over which window, at which second of the run and when.
    struct Abort {
        CVerdict verdict;
        double dWindowSeconds = 0;
        uint64_t nSecond = 0;
        int64_t nUnixMs = 0;
    };

    // One step of a capacity search: its rate and the figures of its
    // seconds after the settle time, their verdicts and whether all held.
    struct CapacityStep {
        double dRate = 0;
        uint64_t nFirstSecond = 0;  // the first second judged
        uint64_t nSeconds = 0;      // the seconds judged
        uint64_t nBehindSeconds = 0;
        uint64_t nSent = 0;
        uint64_t nErrors = 0;
        CLatencyHistogram::Figures lateness;
        std::vector<CLatencyHistogram::Bucket> latenessHistogram;
        std::optional<ReplyMatching> replies;
        std::vector<CVerdict> verdicts;
        bool bHeld = false;
    };

    // A capacity search (--find-capacity): its steps and what it found. The
    // capacity is the last rate that held every threshold; none when the
    // first step crossed one, or when the fleet itself fell behind first
    // (dBehindAt: at that rate).
    struct Capacity {
        double dFrom = 0;
        double dTo = 0;
        double dStepSeconds = 0;
        double dSettleSeconds = 0;
        std::vector<CapacityStep> steps;
        std::optional<double> dCapacity;
        std::optional<double> dCrossedAt;
        std::optional<CVerdict> crossed;  // the first threshold crossed there
        std::optional<double> dBehindAt;
        std::optional<double> dRequired;
        // The search came to its end (not stopped before it).
        bool bComplete = false;

        // Whether it found what it was asked for: a capacity, and one of
        // at least dRequired.
        bool Found() const { return dCapacity && (!dRequired || *dCapacity >= *dRequired); }
        // What the steps, in the order taken, found: up to the first step in
        // which the fleet fell behind (none then), the lowest rate that
        // crossed a threshold (and the first threshold it crossed) and the
        // highest that held below it.
        void Conclude();
    };

    // The run.
    uint64_t nDevices = 0;
    uint64_t nFirstDevice = 0;  // optional
    uint64_t nFleetDevices = 0;
    int nMode = 0;
    int nThreads = 1;  // optional
    double dSeconds = 0;
    // The arguments as given, the wall-clock instant the first second began,
    // and the shard: what a report made of several shards' files needs.
    std::vector<std::string> commandLine;
    int64_t nStartUnixMs = 0;
    CShard shard;

    // Its figures.
    uint64_t nSent = 0;
    uint64_t nErrors = 0;
    uint64_t nReplies = 0;
    uint64_t nReplyBytes = 0;  // optional
    CLatencyHistogram::Figures lateness;
    CProcessUsage usage;
    std::vector<Second> series;
    // Non-empty buckets, ascending.
    std::vector<CLatencyHistogram::Bucket> latenessHistogram;
    std::vector<CVerdict> verdicts;  // optional
    std::optional<ReplyMatching> replyMatching;  // optional
    std::optional<Abort> abort;                  // optional
    std::optional<Capacity> capacity;            // optional
    // Optional: paced by an interval or a rate (the series then has the
    // seconds' targets).
    bool bPaced = false;
    // Optional, written only by runs with traffic options (--vary, the
    // faults, --seed...): the seed and the faults injected.
    bool bTraffic = false;
    uint64_t nSeed = 0;
    CFaultCounts faults;
    // Optional, written only by DTLS runs: the handshakes.
    std::optional<CHandshakeCounts> handshakes;

    // The longest run a record may tell of, in seconds: 31 days.
    static constexpr int64_t kMaxSeconds = 31 * 86400;

    // The seconds in which the fleet fell behind its schedule.
    uint64_t BehindSeconds() const;
    // A capacity step's figures as a record thresholds judge.
    static CRunRecord OfStep(const CapacityStep& step);

    // The stats file's text: one JSON object and a line end.
    std::string Json() const;
    // The handshakes' object ("dtls_handshakes"), as a receiver's file
    // holds it too.
    static void AppendHandshakes(std::string& out, const CHandshakeCounts& handshakes);
    // Reads a stats file's text. Fails, saying what is wrong (not naming
    // the file), when it is not one; record is then unspecified.
    [[nodiscard]] static CStatus Read(std::string_view json, CRunRecord& record);
};
