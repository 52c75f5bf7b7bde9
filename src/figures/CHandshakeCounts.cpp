#include "figures/CHandshakeCounts.h"

#include <cstdio>

const char* CHandshakeCounts::Name(size_t nCause)
{
    static const char* const kNames[kCauses] = {"key", "not_dtls", "timeout", "refused", "other"};
    return nCause < kCauses ? kNames[nCause] : "";
}

uint64_t CHandshakeCounts::Failed() const
{
    uint64_t nFailed = 0;
    for (const uint64_t nCount : failed)
        nFailed += nCount;
    return nFailed;
}

std::string CHandshakeCounts::Text() const
{
    std::string strText = "handshakes started " + std::to_string(nStarted) + ", completed " +
                          std::to_string(nCompleted) + " (resumed " + std::to_string(nResumed) + "), failed " +
                          std::to_string(Failed()) + " (";
    for (size_t i = 0; i < kCauses; ++i)
        strText += std::string(i == 0 ? "" : ", ") + Name(i) + " " + std::to_string(failed[i]);
    char figures[128];
    std::snprintf(figures, sizeof figures, "), time p50 %.3f ms p99 %.3f ms max %.3f ms", time.dP50Ms, time.dP99Ms,
                  time.dMaxMs);
    return strText + figures + ", retransmissions " + std::to_string(nRetransmissions) + ", unsent " +
           std::to_string(nUnsent);
}
