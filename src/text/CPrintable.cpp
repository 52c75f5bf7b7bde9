#include "text/CPrintable.h"

#include <cstdio>

std::string CPrintable::Escape(const char* pData, size_t nLength, size_t nShown)
{
    std::string text;
    const size_t nEnd = nLength < nShown ? nLength : nShown;
    for (size_t i = 0; i < nEnd; ++i) {
        const unsigned char c = static_cast<unsigned char>(pData[i]);
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            text.push_back(static_cast<char>(c));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    if (nLength > nShown)
        text += "...";
    return text;
}
