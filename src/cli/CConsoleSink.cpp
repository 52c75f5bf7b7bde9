#include "cli/CConsoleSink.h"

#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <ctime>

bool CConsoleSink::Send(const std::string& strTarget, uint16_t nPort, const char* pData, size_t nLength)
{
    const bool bSent = m_next.Send(strTarget, nPort, pData, nLength);
    const int nError = errno;
    if (bSent)
        ++m_nSent;
    else
        ++m_nFailed;
    if (m_bQuiet)
        return bSent;
    timeval now{};
    gettimeofday(&now, nullptr);
    struct tm local {};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    if (bSent) {
        std::fprintf(m_pOut, "%s.%03ld %s:%u %zu bytes\n", stamp, static_cast<long>(now.tv_usec / 1000),
                     strTarget.c_str(), static_cast<unsigned>(nPort), nLength);
    } else {
        std::fprintf(m_pOut, "%s.%03ld %s:%u %zu bytes not sent: %s\n", stamp,
                     static_cast<long>(now.tv_usec / 1000), strTarget.c_str(), static_cast<unsigned>(nPort), nLength,
                     std::strerror(nError));
    }
    std::fflush(m_pOut);
    return bSent;
}
