#include "base/CProcessUsage.h"

// K32GetProcessMemoryInfo, from kernel32: no psapi.dll needed.
#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2
#endif
#include <windows.h>
#include <psapi.h>

namespace {

double Seconds(const FILETIME& t)
{
    const uint64_t n100Ns = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<double>(n100Ns) / 1e7;
}

}  // namespace

CProcessUsage CProcessUsage::Now()
{
    CProcessUsage now;
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        now.dCpuSeconds = Seconds(kernel) + Seconds(user);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        now.nMaxRssKb = static_cast<int64_t>(memory.PeakWorkingSetSize / 1024);
    return now;
}
