#pragma once

#include <cstdlib>
#include <string>

// Pins the process's time zone (a TZ text such as "UTC0" or "CST-8", which
// both platforms' runtimes read) for one test and puts the old one back.
class TzGuard {
public:
    explicit TzGuard(const char* pszZone)
    {
        const char* pszOld = std::getenv("TZ");
        m_bHadOld = pszOld != nullptr;
        if (m_bHadOld)
            m_strOld = pszOld;
        Set(pszZone);
    }
    ~TzGuard() { Set(m_bHadOld ? m_strOld.c_str() : nullptr); }
    TzGuard(const TzGuard&) = delete;
    TzGuard& operator=(const TzGuard&) = delete;

private:
    // Sets TZ (unsets it for null) and has the runtime read it again.
    static void Set(const char* pszZone);

    bool m_bHadOld = false;
    std::string m_strOld;
};
