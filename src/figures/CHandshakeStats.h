#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "figures/CHandshakeCounts.h"
#include "figures/CLatencyHistogram.h"

// DTLS handshakes counted as they go (CHandshakeCounts' figures). The adders
// may be called from any thread at any time; the readers from any.
class CHandshakeStats {
public:
    void Started() { m_nStarted.fetch_add(1, std::memory_order_relaxed); }
    void Completed(int64_t nTookNs, bool bResumed);
    void Failed(CHandshakeCounts::Cause nCause) { m_failed[nCause].fetch_add(1, std::memory_order_relaxed); }
    void Retransmitted() { m_nRetransmissions.fetch_add(1, std::memory_order_relaxed); }
    void Unsent(uint64_t nDatagrams) { m_nUnsent.fetch_add(nDatagrams, std::memory_order_relaxed); }

    // Everything so far, durations with their buckets.
    CHandshakeCounts Counts() const;
    // Sessions open now: completed and not yet closed.
    void Closed() { m_nClosed.fetch_add(1, std::memory_order_relaxed); }
    uint64_t Open() const;

private:
    std::atomic<uint64_t> m_nStarted{0};
    std::atomic<uint64_t> m_nCompleted{0};
    std::atomic<uint64_t> m_nResumed{0};
    std::atomic<uint64_t> m_nClosed{0};
    std::array<std::atomic<uint64_t>, CHandshakeCounts::kCauses> m_failed{};
    std::atomic<uint64_t> m_nRetransmissions{0};
    std::atomic<uint64_t> m_nUnsent{0};
    CLatencyHistogram m_time;
};
