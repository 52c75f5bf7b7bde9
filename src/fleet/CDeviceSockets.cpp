#include "fleet/CDeviceSockets.h"

#include <cstdio>

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"
#include "text/CDecimal.h"

namespace {

// "N devices on 1 address need P ports on it" or "... on 2 addresses need P
// ports on each": the count is per address, not per device.
std::string Need(uint32_t nDevices, uint64_t nAddresses, uint64_t nPerAddress, const char* pszKind)
{
    const bool bOne = nAddresses == 1;
    return std::to_string(nDevices) + " devices on " + std::to_string(nAddresses) +
           (bOne ? " address need " : " addresses need ") + std::to_string(nPerAddress) + " " + pszKind +
           (bOne ? " on it" : " on each");
}

}  // namespace

CStatus CDeviceSockets::CheckPorts(uint32_t nDevices, const Binding& binding)
{
    const uint64_t nAddresses = binding.addresses.empty() ? 1 : binding.addresses.size();
    const uint64_t nPerAddress = (nDevices + nAddresses - 1) / nAddresses;
    if (binding.nPortLow != 0 || binding.nPortHigh != 0) {
        const uint64_t nPorts = static_cast<uint64_t>(binding.nPortHigh) - binding.nPortLow + 1;
        if (nPerAddress <= nPorts)
            return CStatus();
        return CStatus::Error(Need(nDevices, nAddresses, nPerAddress, "ports") + ", but --bind-ports " +
                              std::to_string(binding.nPortLow) + "-" + std::to_string(binding.nPortHigh) + " has " +
                              std::to_string(nPorts) + ": at most " + std::to_string(nPorts * nAddresses) +
                              " devices; give more --bind addresses or a wider range");
    }
    int nLow = 0;
    int nHigh = 0;
    std::string strWhere;
    EphemeralRange(nLow, nHigh, strWhere);
    const uint64_t nPorts = static_cast<uint64_t>(nHigh - nLow + 1);
    if (nPerAddress <= nPorts)
        return CStatus();
    return CStatus::Error(Need(nDevices, nAddresses, nPerAddress, "ephemeral ports") + ", but the system has " +
                          std::to_string(nPorts) + " (" + std::to_string(nLow) + "-" + std::to_string(nHigh) + " " +
                          strWhere + "): at most " + std::to_string(nPorts * nAddresses) +
                          " devices; give more --bind addresses or --bind-ports");
}

std::vector<std::string> CDeviceSockets::ReplyWarnings(uint32_t nDevices, const KernelUdp& udp)
{
    // A bucket's sockets are walked one by one; beyond this many a bucket,
    // the walk is most of what a datagram costs.
    constexpr uint64_t kMostPerBucket = 16;
    std::vector<std::string> warnings;
    const uint64_t nSockets = udp.nSockets + nDevices;
    if (udp.nTableBuckets != 0 && nSockets > kMostPerBucket * udp.nTableBuckets)
        warnings.push_back(
            "--replies: the kernel looks up the socket of every datagram that reaches this machine in one table of " +
            CDecimal::Grouped(udp.nTableBuckets) + " buckets (net.ipv4.udp_hash_entries), walking every socket in "
            "the bucket; with these devices' " + CDecimal::Grouped(nSockets) + " UDP sockets in it, some " +
            std::to_string(nSockets / udp.nTableBuckets) +
            " a bucket, that walk is most of what each reply costs, and a server answering them here falls "
            "behind. The table is sized at boot (uhash_entries=), or for a network namespace of its own with "
            "net.ipv4.udp_child_hash_entries (at most 65536); or run fewer devices on this machine");
    const uint64_t nNeeded = udp.nInUsePages + nDevices;
    if (udp.nLimitPages != 0 && nNeeded > udp.nLimitPages) {
        // The kernel's own proportions of the three figures, with room to spare.
        const uint64_t nLow = nNeeded + nNeeded / 10;
        warnings.push_back("--replies: the kernel keeps a page of UDP memory (" + std::to_string(udp.nPageBytes) +
                           " bytes) for every device socket a reply reaches, " + CDecimal::Grouped(nDevices) +
                           " pages for these devices; with the " + CDecimal::Grouped(udp.nInUsePages) +
                           " in use now that passes the first figure of net.ipv4.udp_mem (" +
                           CDecimal::Grouped(udp.nLimitPages) +
                           " pages), beyond which every UDP socket on this machine with data waiting drops what "
                           "reaches it, a server's running here too. Raise it first (as root: sysctl -w "
                           "net.ipv4.udp_mem=\"" +
                           std::to_string(nLow) + " " + std::to_string(nLow / 3 * 4) + " " + std::to_string(nLow * 2) +
                           "\") or run fewer devices on this machine");
    }
    return warnings;
}

CDeviceSockets::~CDeviceSockets()
{
    for (const SocketHandle hSocket : m_sockets)
        CSocketLibrary::CloseSocket(hSocket);
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
    for (uint32_t j = 0; j < nDevices && status.IsOk(); ++j) {
        // Any address of the target's family is all zeros but the family.
        sockaddr_storage local{};
        local.ss_family = target.ss_family;
        if (!binding.addresses.empty())
            local = binding.addresses[j % nAddresses];
        // The port sits at the same place in both families' addresses.
        reinterpret_cast<sockaddr_in&>(local).sin_port =
            htons(bExplicitPorts ? static_cast<uint16_t>(binding.nPortLow + j / nAddresses) : 0);
        status = OpenDevice(j, nDevices, local, binding.bBroadcast, bExplicitPorts);
    }
    return status;
}

CStatus CDeviceSockets::OpenDevice(uint32_t j, uint32_t nDevices, const sockaddr_storage& local, bool bBroadcast,
                                   bool bExplicitPorts)
{
    const SocketHandle hSocket = NewSocket(local.ss_family);
    if (hSocket == kSocketInvalid) {
        const int nError = CSocketLibrary::LastError();
        return CStatus::Error("cannot open socket " + std::to_string(j + 1) + " of " + std::to_string(nDevices) +
                                  ": " + CSocketLibrary::ErrorText(nError) + "; " + std::to_string(j) +
                                  " can be opened",
                              nError);
    }
    const int nOn = 1;
    if (bBroadcast &&
        setsockopt(hSocket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&nOn), sizeof nOn) != 0) {
        const int nError = CSocketLibrary::LastError();
        CSocketLibrary::CloseSocket(hSocket);
        return CStatus::Error("cannot allow broadcasts on device " + std::to_string(j) + "'s socket: " +
                                  CSocketLibrary::ErrorText(nError),
                              nError);
    }
    if (bind(hSocket, reinterpret_cast<const sockaddr*>(&local), CTargetAddress::LengthOf(local)) != 0) {
        const int nError = CSocketLibrary::LastError();
        CSocketLibrary::CloseSocket(hSocket);
        std::string strWhere = CTargetAddress::AddressText(local);
        if (!bExplicitPorts)
            strWhere = strWhere.substr(0, strWhere.rfind(':')) + ":(ephemeral)";
        std::string strReason =
            "cannot bind device " + std::to_string(j) + " to " + strWhere + ": " + CSocketLibrary::ErrorText(nError);
        if (!bExplicitPorts && nError == kSocketAddressInUse)
            strReason += " (the ephemeral ports ran out after " + std::to_string(j) +
                         " sockets; give more --bind addresses or --bind-ports)";
        return CStatus::Error(strReason, nError);
    }
    m_sockets.push_back(hSocket);
    return CStatus();
}

bool CDeviceSockets::Send(uint32_t nDevice, const char* pData, size_t nLength)
{
    // The sockets do not block: a full send buffer is a datagram not sent.
    return sendto(m_sockets[nDevice], pData, static_cast<int>(nLength), kSocketNoSignal,
                  reinterpret_cast<const sockaddr*>(&m_target), m_nTargetLength) >= 0;
}
