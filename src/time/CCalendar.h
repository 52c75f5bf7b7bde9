#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Dates of the proleptic Gregorian calendar as days since 1970-01-01, both
// ways. Stateless; any thread.
class CCalendar {
public:
    static int64_t DaysFromCivil(int64_t y, int m, int d);
    static void CivilFromDays(int64_t z, int& y, int& m, int& d);
    // "2026-05-01 10:00:00.123 UTC", whatever the machine's time zone; the
    // instant is from 1970 on.
    static std::string UtcText(int64_t nUnixMs);
    // The system clock's reading: milliseconds since 1970.
    static int64_t NowUnixMs();
    // An instant as a user writes one: RFC 3339 ("2026-12-10T12:00:00Z",
    // "2026-12-10 13:00:00.5+01:00"), Unix seconds ("1796724000"), or
    // seconds from nNowUnixMs ("+30", "+2min": a duration). True, with the
    // instant in milliseconds since 1970 (rounded down), when the text is
    // one from 1970 on.
    static bool ReadInstant(std::string_view text, int64_t nNowUnixMs, int64_t& nUnixMs);
    // What ReadInstant reads, for messages.
    static const char* InstantForm();
};
