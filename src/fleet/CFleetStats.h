#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The figures of a fleet run: datagrams sent, datagrams that could not be
// sent (send errors), replies, devices still running and devices online (that
// have sent their device info message), and the lateness of each datagram against its scheduled
// instant in a histogram (buckets about 6 % wide, plus the exact maximum),
// for the whole run and for the current second; for the whole run also in
// fixed buckets from 0.1 ms to 1 s with the sum of all lateness, the same
// edges for every run (what Prometheus wants). Record* may be called from
// any thread at any time; Sample (once a second) and the writers from one
// thread.
class CFleetStats {
public:
    struct Lateness {
        double dP50Ms = 0;
        double dP99Ms = 0;
        double dMaxMs = 0;
        uint64_t nCount = 0;  // the datagrams measured
    };

    struct Second {
        int64_t nDevices = 0;
        uint64_t nOnline = 0;
        uint64_t nSent = 0;
        uint64_t nErrors = 0;
        uint64_t nReplies = 0;
        Lateness lateness;
    };

    // The run's identity, for the summary and the JSON file.
    struct Identity {
        uint64_t nDevices = 0;
        uint64_t nFirstDevice = 0;
        uint64_t nFleetDevices = 0;
        int nMode = 0;
        int nThreads = 1;
        // What a report made of several shards' files needs: the arguments
        // as given, the wall-clock instant the series' first second began,
        // and the shard K of M.
        std::vector<std::string> commandLine;
        int64_t nStartUnixMs = 0;
        uint32_t nShard = 0;
        uint32_t nShards = 1;
        // The run's thresholds as judged at its end.
        struct Verdict {
            std::string strExpression;
            double dValue = 0;
            bool bOk = true;
        };
        std::vector<Verdict> verdicts;
    };

    // The fixed buckets' upper bounds, inclusive, in nanoseconds.
    static constexpr size_t kFixedEdges = 13;
    static constexpr std::array<int64_t, kFixedEdges> kFixedEdgesNs = {
        100000, 250000, 500000, 1000000, 2500000, 5000000, 10000000,
        25000000, 50000000, 100000000, 250000000, 500000000, 1000000000};

    // The whole run's datagrams at most kFixedEdgesNs[i] late, cumulative;
    // the last is all of them (above the last edge too).
    struct Cumulative {
        std::array<uint64_t, kFixedEdges + 1> counts{};
        uint64_t nSumNs = 0;
    };

    CFleetStats();

    void SetDevices(int64_t nDevices)
    {
        m_nDevices.store(nDevices);
        m_nAllDevices = nDevices;
    }
    void DeviceOnline() { m_nOnline.fetch_add(1, std::memory_order_relaxed); }
    void DeviceEnded() { m_nDevices.fetch_sub(1, std::memory_order_relaxed); }
    void RecordSend(bool bSent, int64_t nLatenessNs);
    void RecordReply(size_t nBytes);

    int64_t Devices() const { return m_nDevices.load(); }
    uint64_t Sent() const { return m_nSent.load(); }
    uint64_t Errors() const { return m_nErrors.load(); }
    uint64_t Replies() const { return m_nReplies.load(); }
    uint64_t Online() const { return m_nOnline.load(); }

    // Closes the current second: appends it to the series and answers it.
    Second Sample();
    const std::vector<Second>& Series() const { return m_series; }
    Lateness Total() const;
    Cumulative FixedBuckets() const;

    // "devices D sent S R/s errors E late p50 X p99 Y max Z ms replies Q
    // online O/A", A the devices set at the start
    std::string StatusLine(const Second& second) const;
    // The summary's line after "sent ...": devices, errors, lateness, replies.
    std::string SummaryLine(uint64_t nDevices) const;
    // The summary, CPU time, peak RSS, the per-second series and the whole
    // run's lateness histogram (its non-empty buckets as [from, to, count],
    // nanoseconds from inclusive to exclusive) as one JSON object.
    std::string Json(const Identity& identity, double dSeconds) const;

private:
    static constexpr int kSubBuckets = 16;
    static constexpr int kBuckets = kSubBuckets + 60 * kSubBuckets;

    struct Snapshot {
        std::array<uint64_t, kBuckets> counts{};
        int64_t nMax = 0;
    };

    struct Histogram {
        std::array<std::atomic<uint64_t>, kBuckets> counts{};
        std::atomic<int64_t> nMax{0};

        void Add(int64_t nNs, int nBucket);
        Snapshot Read() const;
        // Reads and clears each figure in one step, so that every datagram
        // counts in exactly one second.
        Snapshot Take();
    };

    static Lateness Figures(const Snapshot& snapshot);

    static int BucketOf(int64_t nNs);
    // The nanoseconds bucket nBucket holds: [nFrom, nFrom + nWidth).
    static void BucketRange(int nBucket, int64_t& nFrom, int64_t& nWidth);
    static double BucketMiddleMs(int nBucket);
    // For each bucket, the first fixed edge at or above its lowest value:
    // a bucket is narrower than the gap between two edges, so a datagram's
    // fixed bucket is that one or the next.
    static std::array<uint8_t, kBuckets> FixedTable();
    static const std::array<uint8_t, kBuckets> s_fixedOfBucket;

    std::atomic<int64_t> m_nDevices{0};
    std::atomic<int64_t> m_nAllDevices{0};
    std::atomic<uint64_t> m_nOnline{0};
    std::atomic<uint64_t> m_nSent{0};
    std::atomic<uint64_t> m_nErrors{0};
    std::atomic<uint64_t> m_nReplies{0};
    std::atomic<uint64_t> m_nReplyBytes{0};
    Histogram m_total;
    Histogram m_second;
    std::array<std::atomic<uint64_t>, kFixedEdges + 1> m_fixed{};
    std::atomic<uint64_t> m_nLateSumNs{0};

    uint64_t m_nLastSent = 0;
    uint64_t m_nLastErrors = 0;
    uint64_t m_nLastReplies = 0;
    std::vector<Second> m_series;
};
