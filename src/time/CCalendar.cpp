#include "time/CCalendar.h"

#include <cinttypes>
#include <cstdio>

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
