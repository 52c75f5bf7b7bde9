#include "fleet/CDeviceSockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fleet/CDropAllFilter.h"
#include "net/CTargetAddress.h"

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

CDeviceSockets::~CDeviceSockets()
{
    for (int hSocket : m_sockets)
        close(hSocket);
}

void CDeviceSockets::EphemeralRange(int& nLow, int& nHigh, std::string& strWhere)
{
    nLow = 32768;
    nHigh = 60999;
    strWhere = "/proc/sys/net/ipv4/ip_local_port_range";
    std::FILE* pFile = std::fopen(strWhere.c_str(), "r");
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

CStatus CDeviceSockets::Open(uint32_t nDevices, const Binding& binding, const sockaddr_storage& target)
{
    CStatus status = CheckPorts(nDevices, binding);
    if (status.IsOk())
        status = CheckDescriptors(nDevices);
    if (!status.IsOk())
        return status;
    m_target = target;
    m_nTargetLength = CTargetAddress::LengthOf(target);
    m_sockets.reserve(nDevices);
    const size_t nAddresses = binding.addresses.empty() ? 1 : binding.addresses.size();
    const bool bExplicitPorts = binding.nPortLow != 0 || binding.nPortHigh != 0;
    for (uint32_t j = 0; j < nDevices; ++j) {
        // Any address of the target's family is all zeros but the family.
        sockaddr_storage local{};
        local.ss_family = target.ss_family;
        if (!binding.addresses.empty())
            local = binding.addresses[j % nAddresses];
        // The port sits at the same place in both families' addresses.
        reinterpret_cast<sockaddr_in&>(local).sin_port =
            htons(bExplicitPorts ? static_cast<uint16_t>(binding.nPortLow + j / nAddresses) : 0);
        const int hSocket = socket(local.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (hSocket < 0) {
            const int nError = errno;
            return CStatus::Error("cannot open socket " + std::to_string(j + 1) + " of " + std::to_string(nDevices) +
                                      ": " + std::strerror(nError) + "; " + std::to_string(j) + " can be opened",
                                  nError);
        }
        const int nOn = 1;
        if (binding.bBroadcast && setsockopt(hSocket, SOL_SOCKET, SO_BROADCAST, &nOn, sizeof nOn) != 0) {
            const int nError = errno;
            close(hSocket);
            return CStatus::FromErrno("cannot allow broadcasts on device " + std::to_string(j) + "'s socket", nError);
        }
        if (bind(hSocket, reinterpret_cast<const sockaddr*>(&local), CTargetAddress::LengthOf(local)) != 0) {
            const int nError = errno;
            close(hSocket);
            std::string strWhere = CTargetAddress::AddressText(local);
            if (!bExplicitPorts)
                strWhere = strWhere.substr(0, strWhere.rfind(':')) + ":(ephemeral)";
            std::string strReason = "cannot bind device " + std::to_string(j) + " to " + strWhere + ": " +
                                    std::strerror(nError);
            if (!bExplicitPorts && nError == EADDRINUSE)
                strReason += " (the ephemeral ports ran out after " + std::to_string(j) +
                             " sockets; give more --bind addresses or --bind-ports)";
            return CStatus::Error(strReason, nError);
        }
        m_sockets.push_back(hSocket);
    }
    return CStatus();
}

CStatus CDeviceSockets::DiscardIncoming()
{
    const CDropAllFilter filter;
    for (int hSocket : m_sockets) {
        CStatus attached = filter.Attach(hSocket);
        if (!attached.IsOk())
            return attached;
    }
    return CStatus();
}

bool CDeviceSockets::Send(uint32_t nDevice, const char* pData, size_t nLength)
{
    return sendto(m_sockets[nDevice], pData, nLength, MSG_DONTWAIT | MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&m_target), m_nTargetLength) >= 0;
}
