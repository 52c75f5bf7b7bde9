#include "time/CDateTime.h"

#include <cmath>
#include <ctime>

#include "time/CCalendar.h"
#include "time/CLocalTime.h"

namespace {

// The largest reading the local-time split accepts: 3000-12-31 23:59:59 UTC
// plus the widest zone offset, as the 64-bit C runtime of the original
// platform defines it.
constexpr int64_t kMaxClock = 32535215999LL;
// Days from 1899-12-30 (OLE date 0) to 1970-01-01.
constexpr int64_t kOleEpochToUnixDays = 25569;
constexpr int64_t kSecondsPerDay = 86400;

struct Fields {
    int year, month, day, hour, minute, second;
    int dayOfWeek;  // 0 = Sunday
    int dayOfYear;  // 1..366
};

bool IsLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Calendar fields to an OLE date; false for fields out of range.
bool FieldsToDate(const Fields& f, double& date)
{
    if (f.year < 100 || f.year > 9999 || f.month < 1 || f.month > 12 || f.day < 1 ||
        f.day > DaysInMonth(f.year, f.month) || f.hour < 0 || f.hour > 23 || f.minute < 0 ||
        f.minute > 59 || f.second < 0 || f.second > 59)
        return false;
    const int64_t days = CCalendar::DaysFromCivil(f.year, f.month, f.day) + kOleEpochToUnixDays;
    const int64_t seconds = f.hour * 3600 + f.minute * 60 + f.second;
    date = static_cast<double>(days) + static_cast<double>(seconds) / kSecondsPerDay;
    return true;
}

// An OLE date back to calendar fields, rounded to the nearest second; false
// for dates outside years 100..9999 or not a number.
bool DateToFields(double date, Fields& f)
{
    // 100-01-01 and 9999-12-31 end of day, as OLE dates.
    if (!(date >= -657434.0 && date < 2958466.0))
        return false;
    const double days = std::floor(date);
    int64_t nDays = static_cast<int64_t>(days);
    int64_t seconds = std::llround((date - days) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) {
        ++nDays;
        seconds -= kSecondsPerDay;
    }
    const int64_t unixDays = nDays - kOleEpochToUnixDays;
    CCalendar::CivilFromDays(unixDays, f.year, f.month, f.day);
    if (f.year < 100 || f.year > 9999)
        return false;
    f.hour = static_cast<int>(seconds / 3600);
    f.minute = static_cast<int>(seconds / 60 % 60);
    f.second = static_cast<int>(seconds % 60);
    // 1970-01-01 was a Thursday.
    f.dayOfWeek = static_cast<int>(((unixDays % 7) + 7 + 4) % 7);
    f.dayOfYear = static_cast<int>(unixDays - CCalendar::DaysFromCivil(f.year, 1, 1) + 1);
    return true;
}

}  // namespace

CDateTime::CDateTime(int64_t nClock)
{
    m_nStatus = kInvalid;
    if (nClock < 0 || nClock > kMaxClock)
        return;
    struct tm local {};
    if (!CLocalTime::Split(nClock, local))
        return;
    Fields f{};
    f.year = local.tm_year + 1900;
    f.month = local.tm_mon + 1;
    f.day = local.tm_mday;
    f.hour = local.tm_hour;
    f.minute = local.tm_min;
    f.second = local.tm_sec;
    double date = 0.0;
    if (!FieldsToDate(f, date))
        return;
    Fields back{};
    if (!DateToFields(date, back) || back.year != f.year || back.month != f.month ||
        back.day != f.day || back.hour != f.hour || back.minute != f.minute ||
        back.second != f.second)
        return;
    m_dtDate = date;
    m_nStatus = kValid;
}

int32_t CDateTime::Hour() const
{
    Fields f{};
    return IsValid() && DateToFields(m_dtDate, f) ? f.hour : -1;
}

int32_t CDateTime::Minute() const
{
    Fields f{};
    return IsValid() && DateToFields(m_dtDate, f) ? f.minute : -1;
}

int32_t CDateTime::Second() const
{
    Fields f{};
    return IsValid() && DateToFields(m_dtDate, f) ? f.second : -1;
}

std::string CDateTime::Format(const char* pszPattern) const
{
    static const char kInvalidText[] = "Invalid DateTime";
    Fields f{};
    if (!IsValid() || !DateToFields(m_dtDate, f))
        return kInvalidText;
    struct tm record {};
    record.tm_sec = f.second;
    record.tm_min = f.minute;
    record.tm_hour = f.hour;
    record.tm_mday = f.day;
    record.tm_mon = f.month - 1;
    record.tm_year = f.year - 1900;
    record.tm_wday = f.dayOfWeek;
    record.tm_yday = f.dayOfYear - 1;
    record.tm_isdst = 0;
    char buffer[256];
    const size_t n = std::strftime(buffer, sizeof buffer, pszPattern, &record);
    return std::string(buffer, n);
}
