#include "fleet/CDeviceSockets.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fleet/CDropAllFilter.h"

namespace {

// Descriptors kept free for the process's own files, pipes and timers.
constexpr uint64_t kSpareDescriptors = 64;

uint64_t OpenDescriptors()
{
    uint64_t nOpen = 0;
    DIR* pDir = opendir("/proc/self/fd");
    if (pDir == nullptr)
        return 3;
    while (const dirent* pEntry = readdir(pDir)) {
        if (pEntry->d_name[0] != '.')
            ++nOpen;
    }
    closedir(pDir);
    return nOpen;
}

}  // namespace

void CDeviceSockets::EphemeralRange(int& nLow, int& nHigh, std::string& strWhere)
{
    nLow = 32768;
    nHigh = 60999;
    const char* const pszRange = "/proc/sys/net/ipv4/ip_local_port_range";
    strWhere = std::string("in ") + pszRange;
    std::FILE* pFile = std::fopen(pszRange, "r");
    if (pFile == nullptr)
        return;
    int nReadLow = 0;
    int nReadHigh = 0;
    if (std::fscanf(pFile, "%d %d", &nReadLow, &nReadHigh) == 2 && nReadLow > 0 && nReadHigh >= nReadLow) {
        nLow = nReadLow;
        nHigh = nReadHigh;
    }
    std::fclose(pFile);
}

CStatus CDeviceSockets::CheckDescriptors(uint32_t nDevices)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return CStatus::FromErrno("cannot read the file-descriptor limit", errno);
    const uint64_t nOpen = OpenDescriptors();
    const uint64_t nNeeded = nDevices + nOpen + kSpareDescriptors;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < nNeeded && limit.rlim_cur < limit.rlim_max) {
        // Raise the soft limit to the hard one, the most that is allowed.
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= nNeeded)
        return CStatus();
    const uint64_t nCan = limit.rlim_cur > nOpen + kSpareDescriptors ? limit.rlim_cur - nOpen - kSpareDescriptors : 0;
    char text[256];
    std::snprintf(text, sizeof text,
                  "%u devices need %u sockets, but the file-descriptor limit (%llu, hard limit %llu) allows %llu; "
                  "run fewer devices per process (--shard)",
                  nDevices, nDevices, static_cast<unsigned long long>(limit.rlim_cur),
                  static_cast<unsigned long long>(limit.rlim_max), static_cast<unsigned long long>(nCan));
    return CStatus::Error(text);
}

bool CDeviceSockets::ReadKernelUdp(KernelUdp& udp)
{
    udp = KernelUdp();
    const long nPageBytes = sysconf(_SC_PAGESIZE);
    long long nBuckets = 0;
    unsigned long long nLimitPages = 0;
    unsigned long long nSockets = 0;
    unsigned long long nInUsePages = 0;
    std::FILE* pBuckets = std::fopen("/proc/sys/net/ipv4/udp_hash_entries", "r");
    std::FILE* pLimits = std::fopen("/proc/sys/net/ipv4/udp_mem", "r");
    std::FILE* pInUse = std::fopen("/proc/net/sockstat", "r");
    const bool bBuckets = pBuckets != nullptr && std::fscanf(pBuckets, "%lld", &nBuckets) == 1;
    bool bFound = false;
    if (nPageBytes > 0 && pLimits != nullptr && pInUse != nullptr &&
        std::fscanf(pLimits, "%llu", &nLimitPages) == 1) {
        char line[256];
        while (!bFound && std::fgets(line, sizeof line, pInUse) != nullptr)
            bFound = std::sscanf(line, "UDP: inuse %llu mem %llu", &nSockets, &nInUsePages) == 2;
    }
    for (std::FILE* pFile : {pBuckets, pLimits, pInUse}) {
        if (pFile != nullptr)
            std::fclose(pFile);
    }
    if (!bFound)
        return false;
    // A namespace that shares the first one's table says so with a negative count.
    udp.nTableBuckets = bBuckets ? static_cast<uint64_t>(nBuckets < 0 ? -nBuckets : nBuckets) : 0;
    udp.nSockets = nSockets;
    udp.nInUsePages = nInUsePages;
    udp.nLimitPages = nLimitPages;
    udp.nPageBytes = static_cast<uint64_t>(nPageBytes);
    return true;
}

SocketHandle CDeviceSockets::NewSocket(int nFamily)
{
    return socket(nFamily, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

CStatus CDeviceSockets::DiscardIncoming()
{
    const CDropAllFilter filter;
    for (const SocketHandle hSocket : m_sockets) {
        CStatus attached = filter.Attach(hSocket);
        if (!attached.IsOk())
            return attached;
    }
    return CStatus();
}
