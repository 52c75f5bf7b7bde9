#pragma once

#include <cstdint>

// Dates of the proleptic Gregorian calendar as days since 1970-01-01, both
// ways. Stateless; any thread.
class CCalendar {
public:
    static int64_t DaysFromCivil(int64_t y, int m, int d);
    static void CivilFromDays(int64_t z, int& y, int& m, int& d);
};
