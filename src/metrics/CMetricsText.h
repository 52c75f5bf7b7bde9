#pragma once

#include <cstdint>
#include <string>

#include "figures/CShard.h"

class CFaultStats;
class CFleetStats;
class CHandshakeStats;

// A fleet run's figures in the Prometheus text exposition format (0.0.4):
// the counters of datagrams sent, send errors and replies, the devices
// running and in all, and the lateness histogram in its fixed buckets,
// every series labelled with the shard as given ("K/M"). Read from the
// stats' atomics, so any thread may call Text while the fleet runs.
class CMetricsText {
public:
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    CMetricsText(const CShard& shard, uint64_t nDevices);

    std::string Text(const CFleetStats& stats) const;
    // The faults a run with traffic options injected, by kind:
    // tovrik_faults_injected_total{shard="K/M",kind="loss"}, and so on; and
    // tovrik_datagrams_held_at_stop, what the link held back when the run
    // stopped.
    std::string FaultText(const CFaultStats& faults) const;

private:
    // With DTLS: the devices' handshakes.
    void AppendHandshakes(std::string& out, const CHandshakeStats& handshakes) const;

    std::string m_strShard;  // shard="K/M"
    uint64_t m_nDevices;
};
