#include "cli/CConsoleSink.h"

#include <chrono>
#include <ctime>

#include "net/CSocketLibrary.h"
#include "net/CTargetAddress.h"
#include "time/CLocalTime.h"

bool CConsoleSink::Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength)
{
    const bool bSent = m_next.Send(strTarget, nPort, pData, nLength);
    const int nError = CSocketLibrary::LastError();
    if (bSent)
        ++m_nSent;
    else
        ++m_nFailed;
    if (m_bQuiet)
        return bSent;
    const int64_t nNowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    struct tm local {};
    CLocalTime::Split(nNowMs / 1000, local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string strEndpoint = CTargetAddress::EndpointText(strTarget, nPort);
    if (bSent) {
        std::fprintf(m_pOut, "%s.%03ld %s %zu bytes\n", stamp, static_cast<long>(nNowMs % 1000), strEndpoint.c_str(),
                     nLength);
    } else {
        std::fprintf(m_pOut, "%s.%03ld %s %zu bytes not sent: %s\n", stamp, static_cast<long>(nNowMs % 1000),
                     strEndpoint.c_str(), nLength, CSocketLibrary::ErrorText(nError).c_str());
    }
    std::fflush(m_pOut);
    return bSent;
}
