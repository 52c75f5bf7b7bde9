#pragma once

#include <cstdint>
#include <string>

// A local calendar date and time to the second, kept as an OLE Automation date
// (days since 1899-12-30 00:00 plus the time of day as a fraction of a day)
// with a validity status. Made from a clock reading with the process's local
// time rules (TZ); holds no zone of its own. A plain value: copy freely; safe
// to use from any thread (the local-time split is the reentrant one).
class CDateTime {
public:
    // Status values, as the OLE date type defines them.
    static constexpr int32_t kValid = 0;
    static constexpr int32_t kInvalid = 1;

    // Date 0.0, valid.
    CDateTime() = default;
    // From seconds since 1970-01-01 00:00:00 UTC, split in local time. Readings
    // the split cannot represent (negative ones, or past the year 3000) and
    // calendar fields outside years 100..9999 make an invalid value.
    explicit CDateTime(int64_t nClock);

    bool IsValid() const { return m_nStatus == kValid; }
    double Date() const { return m_dtDate; }

    // Fields of the local time (0-23, 0-59, 0-59), or -1 when invalid.
    int32_t Hour() const;
    int32_t Minute() const;
    int32_t Second() const;

    // strftime of the value with the pattern, or "Invalid DateTime".
    std::string Format(const char* pszPattern) const;

private:
    double m_dtDate = 0.0;
    int32_t m_nStatus = kValid;
};
