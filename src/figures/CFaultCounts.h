#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The faults a run injected, by kind: datagrams lost, copies sent,
// datagrams held back (reordered) or delayed (jitter), datagrams corrupted;
// devices that dropped out (churn) or were silenced by an outage, and the
// packets the devices' schedules had while they were offline. Never part of
// the engine's own figures (sent, errors, lateness). A plain value.
struct CFaultCounts {
    enum Kind : uint8_t { kLoss, kDuplicate, kReorder, kJitter, kCorrupt, kChurn, kOutage, kOffline };
    static constexpr size_t kKinds = 8;

    // "loss", "duplicate", "reorder", "jitter", "corrupt", "churn", "outage",
    // "offline": the kind's name in every output.
    static const char* Name(size_t nKind);

    uint64_t Total() const;

    std::array<uint64_t, kKinds> counts{};
    // Datagrams the link still held back (jitter, reordering, a late copy)
    // when the run was stopped: never sent, and not a fault of their own.
    uint64_t nHeldAtStop = 0;
};
