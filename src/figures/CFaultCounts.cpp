#include "figures/CFaultCounts.h"

const char* CFaultCounts::Name(size_t nKind)
{
    static const char* const kNames[kKinds] = {"loss",  "duplicate", "reorder", "jitter",
                                               "corrupt", "churn",   "outage",  "offline"};
    return nKind < kKinds ? kNames[nKind] : "";
}

uint64_t CFaultCounts::Total() const
{
    uint64_t nTotal = 0;
    for (const uint64_t nCount : counts)
        nTotal += nCount;
    return nTotal;
}
