#include "SettingsHome.h"

#include <cstdlib>

#include "text/CWideText.h"

namespace {
const wchar_t kVariable[] = L"APPDATA";
}

SettingsHome::SettingsHome(const std::string& strFolder)
{
    const wchar_t* pOld = _wgetenv(kVariable);
    m_bHadOld = pOld != nullptr;
    if (m_bHadOld)
        m_strOld = CWideText::Narrow(pOld);
    Set(&strFolder);
}

SettingsHome::~SettingsHome()
{
    Set(m_bHadOld ? &m_strOld : nullptr);
}

void SettingsHome::Set(const std::string* pValue)
{
    // An empty value removes the variable.
    _wputenv_s(kVariable, pValue != nullptr ? CWideText::Widen(*pValue).c_str() : L"");
}
