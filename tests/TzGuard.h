#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

// Pins the process's time zone for one test and puts the old one back.
class TzGuard {
public:
    explicit TzGuard(const char* pszZone)
    {
        const char* pszOld = std::getenv("TZ");
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_strOld = pszOld;
        setenv("TZ", pszZone, 1);
        tzset();
    }
    ~TzGuard()
    {
        if (m_bHadOld)
            setenv("TZ", m_strOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TzGuard(const TzGuard&) = delete;
    TzGuard& operator=(const TzGuard&) = delete;

private:
    bool m_bHadOld = false;
    std::string m_strOld;
};
