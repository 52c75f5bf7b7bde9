#include "fleet/CDeviceSockets.h"

#include <cstdio>

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
                          std::to_string(nPorts) + " (" + std::to_string(nLow) + "-" + std::to_string(nHigh) + " in " +
                          strWhere + "): at most " + std::to_string(nPorts * nAddresses) +
                          " devices; give more --bind addresses or --bind-ports");
}
