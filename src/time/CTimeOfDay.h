#pragma once

#include <cstdint>
#include <string_view>

class CDateTime;

// The time-of-day key that indexes imported messages for replay: hour * 3600
// + minute * 60 + second in 32-bit arithmetic (wrapping), widened with its
// sign. Stateless; any thread.
class CTimeOfDay {
public:
    // Reads "%d-%d-%d %d:%d:%d" by the scanf rules (leading white space and a
    // sign before each number, the blank matching any run of white space or
    // none, anything after the sixth number ignored, numbers wrapping as
    // 32-bit values; the text ends at its first zero byte) and gives the key
    // of its hour, minute and second. False unless all six numbers are read.
    static bool ReadKey(std::string_view text, int64_t& nKey);
    static int64_t Key(int32_t nHour, int32_t nMinute, int32_t nSecond);
    // The key of a date-time value's local time (-3661 for an invalid one).
    static int64_t KeyOf(const CDateTime& when);
};
