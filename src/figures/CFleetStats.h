#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "figures/CHandshakeStats.h"
#include "figures/CLatencyFigures.h"
#include "figures/CReplyStats.h"
#include "figures/CRunRecord.h"

// The figures of a fleet run as it goes: datagrams sent, datagrams that
// could not be sent (send errors), replies, devices still running and
// devices online (that have sent their device info message), and the
// lateness of each datagram against its scheduled instant (CLatencyFigures:
// the whole run, the current second, fixed buckets for Prometheus); with
// replies matched to datagrams, their figures too (CReplyStats).
// Record* may be called from any thread at any time; Sample (once a second)
// and Fill from one thread; the other readers from any.
class CFleetStats {
public:
    using Second = CRunRecord::Second;

    // The lateness buckets' fixed upper bounds, inclusive, in nanoseconds:
    // 0.1 ms to 1 s.
    static const std::vector<int64_t>& LatenessEdgesNs();

    CFleetStats();
    ~CFleetStats();

    // Replies are matched to the datagrams they answer from now on (before
    // the run starts): their figures come with each second and the record.
    void MatchReplies(int64_t nTimeoutNs);
    // Null unless replies are matched.
    CReplyStats* ReplyMatching() { return m_pReplies.get(); }
    const CReplyStats* ReplyMatching() const { return m_pReplies.get(); }

    // The devices talk DTLS (before the run starts): the handshakes'
    // figures come with the record. Null otherwise.
    void UseDtls() { m_pHandshakes = std::make_unique<CHandshakeStats>(); }
    CHandshakeStats* Handshakes() { return m_pHandshakes.get(); }
    const CHandshakeStats* Handshakes() const { return m_pHandshakes.get(); }

    void SetDevices(int64_t nDevices)
    {
        m_nDevices.store(nDevices);
        m_nAllDevices = nDevices;
    }
    void DeviceOnline() { m_nOnline.fetch_add(1, std::memory_order_relaxed); }
    void DeviceEnded() { m_nDevices.fetch_sub(1, std::memory_order_relaxed); }
    // A device that went offline (a dropout, an outage): online again when
    // it sends its device info message anew.
    void DeviceOffline() { m_nOnline.fetch_sub(1, std::memory_order_relaxed); }
    void RecordSend(bool bSent, int64_t nLatenessNs);
    void RecordReply(size_t nBytes);

    int64_t Devices() const { return m_nDevices.load(); }
    // The devices set at the start.
    int64_t AllDevices() const { return m_nAllDevices.load(); }
    uint64_t Sent() const { return m_nSent.load(); }
    uint64_t Errors() const { return m_nErrors.load(); }
    uint64_t Replies() const { return m_nReplies.load(); }
    uint64_t Online() const { return m_nOnline.load(); }
    // The last second's target rate (0 unpaced) and whether the fleet fell
    // behind in it; the seconds it fell behind in.
    double LastTarget() const { return m_dLastTarget.load(); }
    bool LastBehind() const { return m_bLastBehind.load(); }
    uint64_t BehindSeconds() const { return m_nBehindSeconds.load(); }

    // A capacity search as it goes: the rate it asks of the whole fleet now,
    // the steps judged, what they found so far (the capacity: the highest
    // rate that held below the lowest that crossed; none while no step has
    // held, or once the fleet fell behind) and whether it has ended. Set by
    // the run's thread after each second; read by any.
    struct Search {
        double dRate = 0;
        uint64_t nSteps = 0;
        std::optional<double> dCapacity;
        std::optional<double> dCrossedAt;
        bool bDone = false;
    };
    void SetSearch(const Search& search);
    // None unless the run searches.
    std::optional<Search> SearchNow() const;

    // A second's lateness p99 above this is the fleet falling behind.
    static constexpr double kBehindLatenessMs = 100;

    // Closes the current second: appends it to the series and answers it.
    // dTarget: the datagrams a rate asked of this process in it (0 unpaced);
    // bSaturated: a scheduler thread was busy all of it.
    Second Sample(double dTarget = 0, bool bSaturated = false);
    const std::vector<Second>& Series() const { return m_series; }
    // The buckets of the last second sampled: its lateness and round trips.
    const std::vector<CLatencyHistogram::Bucket>& LastLateness() const { return m_lastLateness; }
    const std::vector<CLatencyHistogram::Bucket>& LastRoundTrips() const { return m_lastRtt; }
    CLatencyHistogram::Figures Total() const { return m_lateness.Total(); }
    CLatencyFigures::Cumulative FixedBuckets() const { return m_lateness.FixedBuckets(); }

    // Puts the figures into a record: the totals, the series and the
    // lateness histogram.
    void Fill(CRunRecord& record) const;

private:
    std::atomic<int64_t> m_nDevices{0};
    std::atomic<int64_t> m_nAllDevices{0};
    std::atomic<uint64_t> m_nOnline{0};
    std::atomic<uint64_t> m_nSent{0};
    std::atomic<uint64_t> m_nErrors{0};
    std::atomic<uint64_t> m_nReplies{0};
    std::atomic<uint64_t> m_nReplyBytes{0};
    std::atomic<double> m_dLastTarget{0};
    std::atomic<bool> m_bLastBehind{false};
    std::atomic<uint64_t> m_nBehindSeconds{0};
    CLatencyFigures m_lateness;
    std::unique_ptr<CReplyStats> m_pReplies;
    std::unique_ptr<CHandshakeStats> m_pHandshakes;
    mutable std::mutex m_searchMutex;
    std::optional<Search> m_search;

    uint64_t m_nLastSent = 0;
    uint64_t m_nLastErrors = 0;
    uint64_t m_nLastReplies = 0;
    std::vector<Second> m_series;
    std::vector<CLatencyHistogram::Bucket> m_lastLateness;
    std::vector<CLatencyHistogram::Bucket> m_lastRtt;
};
