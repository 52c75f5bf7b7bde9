#pragma once

#include <cstdint>
#include <string>

// Dates of the proleptic Gregorian calendar as days since 1970-01-01, both
// ways. Stateless; any thread.
class CCalendar {
public:
    static int64_t DaysFromCivil(int64_t y, int m, int d);
    static void CivilFromDays(int64_t z, int& y, int& m, int& d);
    // "2026-05-01 10:00:00.123 UTC", whatever the machine's time zone; the
    // instant is from 1970 on.
    static std::string UtcText(int64_t nUnixMs);
};
