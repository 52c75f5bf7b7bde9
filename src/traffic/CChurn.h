#pragma once

#include <string>
#include <string_view>

#include "traffic/CDelay.h"

// Devices that drop out and come back (--churn RATE,DURATION): each device
// goes silent at random instants, RATE times an hour on average while it is
// online, for DURATION (fixed or a distribution) each time. "off": none. A
// plain value; any thread.
class CChurn {
public:
    // False, with what is wrong (after the text in quotes), when the text
    // is not RATE,DURATION.
    static bool Read(std::string_view text, CChurn& churn, std::string& strWrong);

    bool On() const { return dRatePerHour > 0; }

    double dRatePerHour = 0;
    CDelay length;
};
