#pragma once

#include <string>

// UTF-8 to and from the UTF-16 of the Windows wide-character calls. Invalid
// sequences become U+FFFD. Any thread.
class CWideText {
public:
    static std::wstring Widen(const std::string& strUtf8);
    static std::string Narrow(const std::wstring& strWide);
};
