#pragma once

#include <cstdint>

// What the process has used so far, as a run's records report it. Any
// thread.
struct CProcessUsage {
    // User and system CPU time of all threads, in seconds.
    double dCpuSeconds = 0;
    // The largest resident set (working set) so far, in KiB.
    int64_t nMaxRssKb = 0;

    static CProcessUsage Now();
};
