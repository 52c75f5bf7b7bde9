#include "ProcessStats.h"

#include <sys/resource.h>

#include <fstream>
#include <string>

namespace {

long StatusField(const char* pszField)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(pszField) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

}  // namespace

long ProcessStats::Threads()
{
    return StatusField("Threads");
}

long ProcessStats::ResidentKb()
{
    return StatusField("VmRSS");
}

long ProcessStats::DescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max == RLIM_INFINITY)
        return -1;
    return static_cast<long>(limit.rlim_max);
}
