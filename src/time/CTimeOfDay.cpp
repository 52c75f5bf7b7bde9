#include "time/CTimeOfDay.h"

#include "time/CDateTime.h"

namespace {

bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%d" conversion: white space, a sign, at least one digit.
bool ScanInt(const char*& p, const char* end, int32_t& value)
{
    while (p < end && IsScanSpace(*p))
        ++p;
    bool bNegative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        bNegative = *p == '-';
        ++p;
    }
    if (p >= end || *p < '0' || *p > '9')
        return false;
    uint32_t acc = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        acc = acc * 10u + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    if (bNegative)
        acc = 0u - acc;
    value = static_cast<int32_t>(acc);
    return true;
}

bool ScanLiteral(const char*& p, const char* end, char c)
{
    if (p >= end || *p != c)
        return false;
    ++p;
    return true;
}

}  // namespace

bool CTimeOfDay::ReadKey(std::string_view text, int64_t& nKey)
{
    // Like the C runtime's scanf, the text ends at its first zero byte.
    const size_t nZero = text.find('\0');
    if (nZero != std::string_view::npos)
        text = text.substr(0, nZero);
    const char* p = text.data();
    const char* end = p + text.size();
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ScanInt(p, end, year) || !ScanLiteral(p, end, '-') || !ScanInt(p, end, month) ||
        !ScanLiteral(p, end, '-') || !ScanInt(p, end, day))
        return false;
    while (p < end && IsScanSpace(*p))
        ++p;
    if (!ScanInt(p, end, hour) || !ScanLiteral(p, end, ':') || !ScanInt(p, end, minute) ||
        !ScanLiteral(p, end, ':') || !ScanInt(p, end, second))
        return false;
    nKey = Key(hour, minute, second);
    return true;
}

int64_t CTimeOfDay::Key(int32_t nHour, int32_t nMinute, int32_t nSecond)
{
    const uint32_t nKey = static_cast<uint32_t>(nHour) * 3600u + static_cast<uint32_t>(nMinute) * 60u +
                          static_cast<uint32_t>(nSecond);
    return static_cast<int64_t>(static_cast<int32_t>(nKey));
}

int64_t CTimeOfDay::KeyOf(const CDateTime& when)
{
    return Key(when.Hour(), when.Minute(), when.Second());
}
