#pragma once

#include <string>
#include <string_view>

#include "base/CStatus.h"
#include "traffic/CDelay.h"

// Devices that drop out and come back (--churn RATE,DURATION): each device
// goes silent at random instants, RATE times an hour on average while it is
// online, for DURATION (fixed or a distribution) each time. "off": none. A
// plain value; any thread.
class CChurn {
public:
    // Fails, naming the text and saying what is wrong, when the text is not
    // RATE,DURATION.
    [[nodiscard]] static CStatus Read(std::string_view text, CChurn& churn);

    bool On() const { return dRatePerHour > 0; }

    double dRatePerHour = 0;
    CDelay length;
};
