#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "figures/CFaultCounts.h"

// The faults a fleet run injects, counted as it goes (CFaultCounts' kinds),
// apart from the engine's own figures. Add may be called from any thread at
// any time; the readers from any.
class CFaultStats {
public:
    void Add(CFaultCounts::Kind nKind) { m_counts[nKind].fetch_add(1, std::memory_order_relaxed); }
    // Datagrams held back and never sent, the run having been stopped.
    void AddHeldAtStop(uint64_t nHeld) { m_nHeldAtStop.fetch_add(nHeld, std::memory_order_relaxed); }
    uint64_t Count(CFaultCounts::Kind nKind) const { return m_counts[nKind].load(std::memory_order_relaxed); }
    CFaultCounts Counts() const;

private:
    std::array<std::atomic<uint64_t>, CFaultCounts::kKinds> m_counts{};
    std::atomic<uint64_t> m_nHeldAtStop{0};
};
