#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "figures/CLatencyHistogram.h"

// What DTLS handshakes a run saw (a fleet's devices, or a receiver's peers):
// started, completed (and of those resumed), failed by cause, the
// retransmissions, and the handshakes' durations. A plain value.
struct CHandshakeCounts {
    // Why a handshake failed: the peer refused the keys or certificate (an
    // alert saying so, ours refusing its certificate, or a peer that answered
    // and never finished: with pre-shared keys, keys that differ); what came
    // back was not DTLS; nothing came back through every retransmission; the
    // peer refused with another alert; anything else.
    enum Cause : uint8_t { kKey, kNotDtls, kTimeout, kRefused, kOther };
    static constexpr size_t kCauses = 5;

    // "key", "not_dtls", "timeout", "refused", "other": the cause's name in
    // every output.
    static const char* Name(size_t nCause);

    uint64_t Failed() const;
    // "handshakes started N, completed N (resumed N), failed N (key N, ...),
    // time p50 ... ms, retransmissions N, unsent N": the summaries' line.
    std::string Text() const;

    uint64_t nStarted = 0;
    uint64_t nCompleted = 0;
    uint64_t nResumed = 0;
    std::array<uint64_t, kCauses> failed{};
    uint64_t nRetransmissions = 0;
    // Datagrams a device had to send that never went: held for a handshake
    // that failed, or due while it waited to try again.
    uint64_t nUnsent = 0;
    CLatencyHistogram::Figures time;
    // Non-empty buckets, ascending.
    std::vector<CLatencyHistogram::Bucket> timeHistogram;
};
