#include "base/CProcessUsage.h"

#include <sys/resource.h>

namespace {

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

CProcessUsage CProcessUsage::Now()
{
    rusage usage{};
    CProcessUsage now;
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return now;
    now.dCpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    now.nMaxRssKb = usage.ru_maxrss;
    return now;
}
