#include "time/CCalendar.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "text/CDuration.h"

namespace {

// Unix seconds to the year 9999 fit, with milliseconds, far inside int64.
constexpr int64_t kMaxUnixSeconds = 253402300799;

// Exactly nDigits digits at text[i], read on; false otherwise.
bool Digits(std::string_view text, size_t& i, size_t nDigits, int& nValue)
{
    nValue = 0;
    for (size_t k = 0; k < nDigits; ++k, ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        nValue = nValue * 10 + (text[i] - '0');
    }
    return true;
}

bool Char(std::string_view text, size_t& i, std::string_view any)
{
    if (i >= text.size() || any.find(text[i]) == std::string_view::npos)
        return false;
    ++i;
    return true;
}

// A fraction of a second after its dot, as milliseconds rounded down.
bool Fraction(std::string_view text, size_t& i, int64_t& nMs)
{
    nMs = 0;
    const size_t nFirst = i;
    int64_t nScale = 100;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, nScale /= 10)
        nMs += (text[i] - '0') * nScale;
    return i > nFirst;
}

bool ReadUnixSeconds(std::string_view text, int64_t& nUnixMs)
{
    int64_t nSeconds = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        nSeconds = nSeconds * 10 + (text[i] - '0');
        if (nSeconds > kMaxUnixSeconds)
            return false;
    }
    int64_t nMs = 0;
    if (i == 0 || (i < text.size() && (text[i] != '.' || !Fraction(text, ++i, nMs))) || i != text.size())
        return false;
    nUnixMs = nSeconds * 1000 + nMs;
    return true;
}

bool ReadRfc3339(std::string_view text, int64_t& nUnixMs)
{
    size_t i = 0;
    int nYear = 0, nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0;
    if (!Digits(text, i, 4, nYear) || !Char(text, i, "-") || !Digits(text, i, 2, nMonth) || !Char(text, i, "-") ||
        !Digits(text, i, 2, nDay) || !Char(text, i, "Tt ") || !Digits(text, i, 2, nHour) || !Char(text, i, ":") ||
        !Digits(text, i, 2, nMinute) || !Char(text, i, ":") || !Digits(text, i, 2, nSecond))
        return false;
    int64_t nMs = 0;
    if (i < text.size() && text[i] == '.' && !Fraction(text, ++i, nMs))
        return false;
    int nOffsetMinutes = 0;
    if (!Char(text, i, "Zz")) {
        const bool bEast = i < text.size() && text[i] == '+';
        int nOffsetHour = 0;
        int nOffsetMinute = 0;
        if (!Char(text, i, "+-") || !Digits(text, i, 2, nOffsetHour) || !Char(text, i, ":") ||
            !Digits(text, i, 2, nOffsetMinute) || nOffsetHour > 23 || nOffsetMinute > 59)
            return false;
        nOffsetMinutes = (bEast ? 1 : -1) * (nOffsetHour * 60 + nOffsetMinute);
    }
    if (i != text.size() || nMonth < 1 || nMonth > 12 || nDay < 1 || nHour > 23 || nMinute > 59 || nSecond > 60)
        return false;
    // The day exists: it does not roll over into the next month.
    int nYearBack = 0, nMonthBack = 0, nDayBack = 0;
    const int64_t nDays = CCalendar::DaysFromCivil(nYear, nMonth, nDay);
    CCalendar::CivilFromDays(nDays, nYearBack, nMonthBack, nDayBack);
    if (nMonthBack != nMonth || nDayBack != nDay)
        return false;
    // A leap second (:60) is read as the next second's start.
    nUnixMs = ((nDays * 24 + nHour) * 60 + nMinute - nOffsetMinutes) * 60000 + nSecond * 1000 + nMs;
    return nUnixMs >= 0;
}

}  // namespace

// H. Hinnant's algorithms.

int64_t CCalendar::DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CCalendar::CivilFromDays(int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

std::string CCalendar::UtcText(int64_t nUnixMs)
{
    const int64_t nMsOfDay = nUnixMs % 86400000;
    int nYear = 0;
    int nMonth = 0;
    int nDay = 0;
    CivilFromDays(nUnixMs / 86400000, nYear, nMonth, nDay);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64 " UTC", nYear,
                  nMonth, nDay, nMsOfDay / 3600000, nMsOfDay / 60000 % 60, nMsOfDay / 1000 % 60, nMsOfDay % 1000);
    return text;
}

int64_t CCalendar::NowUnixMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool CCalendar::ReadInstant(std::string_view text, int64_t nNowUnixMs, int64_t& nUnixMs)
{
    if (!text.empty() && text.front() == '+') {
        int64_t nNs = 0;
        if (!CDuration::ReadSeconds(text.substr(1), 0, CDuration::kMaxNs, nNs))
            return false;
        nUnixMs = nNowUnixMs + nNs / 1000000;
        return true;
    }
    return text.find('-') != std::string_view::npos ? ReadRfc3339(text, nUnixMs) : ReadUnixSeconds(text, nUnixMs);
}

const char* CCalendar::InstantForm()
{
    return "RFC 3339 (2026-12-10T12:00:00Z, 2026-12-10T13:00:00+01:00), Unix seconds (1796904000), or +SECONDS from "
           "now (+30, +2min)";
}
