#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Durations as a user writes them, in every option and file that takes one:
// a decimal number (digits with an optional fraction; no sign, no exponent)
// and a unit, ns, us, ms, s, min or h, without a space: "20ms", "1.5s",
// "5min". Stateless; any thread.
class CDuration {
public:
    // The longest duration any option takes: a year (of 366 days).
    static constexpr int64_t kMaxNs = int64_t{366} * 86400 * 1000000000;
    static constexpr int64_t kNsPerSecond = 1000000000;

    // True, with the nanoseconds (rounded to the nearest), when the text is
    // one from 0 to kMaxNs.
    static bool Read(std::string_view text, int64_t& nNs);
    // The same within [nMinNs, nMaxNs].
    static bool Read(std::string_view text, int64_t nMinNs, int64_t nMaxNs, int64_t& nNs);
    // A duration, or a number alone as seconds ("90" is "90s"): for the
    // options that took seconds before they took units.
    static bool ReadSeconds(std::string_view text, int64_t nMinNs, int64_t nMaxNs, int64_t& nNs);
    // What a duration looks like, for messages.
    static const char* Form();
    // The shortest exact text of a duration: "250ms", "90s", "2h",
    // "1500us".
    static std::string Text(int64_t nNs);
};
