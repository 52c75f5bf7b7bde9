#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/CStatus.h"

// The whole fleet silent for a while (--outage AT,DURATION[,return=SPREAD]):
// from AT after the run's start for DURATION, then each device back at a
// random point of the SPREAD that follows (0, the default: all at once, the
// reconnect storm). A plain value; any thread.
class COutage {
public:
    // Fails, naming the text and saying what is wrong, when the text is not
    // AT,DURATION[,return=SPREAD]; without bAt (a scenario's stage, which
    // gives the instant) DURATION[,return=SPREAD].
    [[nodiscard]] static CStatus Read(std::string_view text, bool bAt, COutage& outage);

    int64_t nAtNs = 0;
    int64_t nLengthNs = 0;
    int64_t nSpreadNs = 0;
};
