#pragma once

#include <cstdint>
#include <ctime>

// The platform's reentrant split of a clock reading into local calendar
// fields (localtime_r, _localtime64_s), with the process's time zone rules.
// Any thread.
class CLocalTime {
public:
    // False when the platform cannot represent the reading.
    static bool Split(int64_t nClock, struct tm& local);
};
