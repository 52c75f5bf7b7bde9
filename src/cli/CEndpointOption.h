#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The ADDR:PORT values of tovrik-cli's options, read and checked. Each
// answers what is wrong (to follow "OPTION: "), or nothing. Any thread.
class CEndpointOption {
public:
    // --metrics: an IPv4 address, 0.0.0.0 for all, or localhost, and a port
    // 0 to 65535 (0: one the system picks). Refused where this build serves
    // no metrics.
    static std::string ReadMetrics(const std::string& strText, std::optional<std::string>& strAddress,
                                   uint16_t& nPort);
    // receive's --listen: a numeric IPv4 address, or an IPv6 one in brackets
    // ([::], [::1], [fe80::1%eth0]), and a port 0 to 65535.
    static std::string ReadListen(const std::string& strText, std::string& strAddress, uint16_t& nPort);
};
