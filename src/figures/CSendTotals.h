#pragma once

#include <cstdint>

// What a run of either kind, one device or a fleet, sent in the end. A plain
// value; any thread.
struct CSendTotals {
    uint64_t nSent = 0;
    uint64_t nFailed = 0;  // tried and refused
    uint64_t nHeldAtStop = 0;  // held back by the link when stopped, never tried
    double dSeconds = 0;

    double PerSecond() const { return dSeconds > 0 ? static_cast<double>(nSent) / dSeconds : 0.0; }
    // Sends were tried and not one went out: the run failed, whatever it
    // was for.
    bool AllRefused() const { return nSent == 0 && nFailed > 0; }
};
