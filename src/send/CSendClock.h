#pragma once

#include <cstdint>

// The send worker's time source: the calendar clock and the tick's sleep.
// Called on the worker's thread only.
class CSendClock {
public:
    virtual ~CSendClock() = default;
    // Seconds since 1970-01-01 00:00:00 UTC.
    virtual int64_t Now() = 0;
    // Suspends for at least nMilliseconds.
    virtual void Sleep(int nMilliseconds) = 0;
};
