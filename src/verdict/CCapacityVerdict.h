#pragma once

#include <string>

#include "figures/CRunRecord.h"

// What a capacity search found, in the sentence every output says it in:
// "capacity: 42,000 datagrams/s (the last rate that held every threshold);
// crossed at 52,500/s: rtt_p99<=50ms: 73.210 ms crossed". Any thread.
class CCapacityVerdict {
public:
    static std::string Sentence(const CRunRecord::Capacity& capacity);
    // "52,500/s".
    static std::string Rate(double dPerSecond);
};
