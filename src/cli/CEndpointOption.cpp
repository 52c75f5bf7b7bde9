#include "cli/CEndpointOption.h"

#include "metrics/CMetricsServer.h"
#include "net/CTargetAddress.h"
#include "text/CDecimal.h"
#include "text/CDottedQuad.h"

namespace {

// The port after the last colon, and the text before it.
bool SplitPort(const std::string& strText, std::string& strAddress, uint16_t& nPort)
{
    const size_t nColon = strText.rfind(':');
    uint64_t nValue = 0;
    if (nColon == std::string::npos || strText.size() - nColon - 1 > 19 ||
        !CDecimal::Read(strText.substr(nColon + 1), 65535, nValue))
        return false;
    strAddress = strText.substr(0, nColon);
    nPort = static_cast<uint16_t>(nValue);
    return true;
}

}  // namespace

std::string CEndpointOption::ReadMetrics(const std::string& strText, std::optional<std::string>& strAddress,
                                         uint16_t& nPort)
{
    if (!CMetricsServer::IsAvailable())
        return "not available in this build (the Windows build has no HTTP server); serve the metrics from Linux";
    std::string strHost;
    const bool bSplit = SplitPort(strText, strHost, nPort);
    strAddress = strHost == "localhost" ? "127.0.0.1" : strHost;
    if (!bSplit || !CDottedQuad::IsComplete(*strAddress))
        return "'" + strText + "' is not ADDR:PORT with an IPv4 address or localhost and a port 0-65535";
    return std::string();
}

std::string CEndpointOption::ReadListen(const std::string& strText, std::string& strAddress, uint16_t& nPort)
{
    std::string strHost;
    const bool bSplit = SplitPort(strText, strHost, nPort);
    const bool bBracketed = strHost.size() > 2 && strHost.front() == '[' && strHost.back() == ']';
    if (bSplit && bBracketed && CTargetAddress::StripBrackets(strHost, strAddress))
        return std::string();
    if (bSplit && CDottedQuad::IsComplete(strHost)) {
        strAddress = strHost;
        return std::string();
    }
    return "'" + strText + "' is not ADDR:PORT with an IPv4 address or an IPv6 address in brackets ([::]:51609) and "
                           "a port 0-65535";
}
