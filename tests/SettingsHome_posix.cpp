#include "SettingsHome.h"

#include <cstdlib>

namespace {
const char kVariable[] = "XDG_CONFIG_HOME";
}

SettingsHome::SettingsHome(const std::string& strFolder)
{
    const char* pszOld = std::getenv(kVariable);
    m_bHadOld = pszOld != nullptr;
    if (m_bHadOld)
        m_strOld = pszOld;
    Set(&strFolder);
}

SettingsHome::~SettingsHome()
{
    Set(m_bHadOld ? &m_strOld : nullptr);
}

void SettingsHome::Set(const std::string* pValue)
{
    if (pValue != nullptr)
        setenv(kVariable, pValue->c_str(), 1);
    else
        unsetenv(kVariable);
}
