#include "text/CWideText.h"

#include <windows.h>

std::wstring CWideText::Widen(const std::string& strUtf8)
{
    if (strUtf8.empty())
        return std::wstring();
    const int nSize = static_cast<int>(strUtf8.size());
    const int nWide = MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), nSize, nullptr, 0);
    std::wstring strWide(static_cast<size_t>(nWide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, strUtf8.data(), nSize, &strWide[0], nWide);
    return strWide;
}

std::string CWideText::Narrow(const std::wstring& strWide)
{
    if (strWide.empty())
        return std::string();
    const int nSize = static_cast<int>(strWide.size());
    const int nUtf8 = WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nSize, nullptr, 0, nullptr, nullptr);
    std::string strUtf8(static_cast<size_t>(nUtf8), '\0');
    WideCharToMultiByte(CP_UTF8, 0, strWide.data(), nSize, &strUtf8[0], nUtf8, nullptr, nullptr);
    return strUtf8;
}
