#include "text/CDecimal.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

bool CDecimal::Read(std::string_view text, uint64_t nMax, uint64_t& nValue)
{
    if (text.empty())
        return false;
    uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t nDigit = static_cast<uint64_t>(c - '0');
        if (n > nMax / 10 || (n == nMax / 10 && nDigit > nMax % 10))
            return false;
        n = n * 10 + nDigit;
    }
    nValue = n;
    return true;
}

bool CDecimal::ReadFraction(std::string_view text, size_t& nAt, double& dValue)
{
    const auto isDigit = [&text](size_t n) { return n < text.size() && text[n] >= '0' && text[n] <= '9'; };
    size_t nEnd = nAt;
    while (isDigit(nEnd))
        ++nEnd;
    if (nEnd == nAt)
        return false;
    if (nEnd < text.size() && text[nEnd] == '.') {
        const size_t nFraction = ++nEnd;
        while (isDigit(nEnd))
            ++nEnd;
        if (nEnd == nFraction)
            return false;
    }
    dValue = std::strtod(std::string(text.substr(nAt, nEnd - nAt)).c_str(), nullptr);
    nAt = nEnd;
    return true;
}

char* CDecimal::WritePadded(char* p, uint64_t n, int nWidth)
{
    char digits[kMaxDigits];
    const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, n);
    const int nDigits = static_cast<int>(result.ptr - digits);
    for (int i = nDigits; i < nWidth; ++i)
        *p++ = '0';
    std::memcpy(p, digits, static_cast<size_t>(nDigits));
    return p + nDigits;
}

std::string CDecimal::Grouped(uint64_t n)
{
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

std::string CDecimal::Padded(uint64_t n, int nWidth)
{
    std::string text(static_cast<size_t>(kMaxDigits + (nWidth > 0 ? nWidth : 0)), '\0');
    text.resize(static_cast<size_t>(WritePadded(&text[0], n, nWidth) - text.data()));
    return text;
}
