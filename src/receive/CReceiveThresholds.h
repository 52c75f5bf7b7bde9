#pragma once

#include <vector>

#include "receive/CReceiveRecord.h"
#include "verdict/CThreshold.h"

// What --threshold measures on a receive run: loss (numbers lost per number
// expected, with --counter; no data when none was expected), malformed,
// duplicates and reordered (counts; the last two with --counter) and rate
// (datagrams per second). Any thread.
class CReceiveThresholds {
public:
    static const std::vector<CThreshold::Metric>& Metrics();
    static CThreshold::Figures Figures(const CReceiveRecord& record);
};
