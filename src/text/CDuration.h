#pragma once

#include <cstdint>
#include <string_view>

// Durations as the command line takes them: a decimal number (digits, with
// an optional fraction) and a unit, ns, us, ms or s, without a space:
// "20ms", "1.5s". Stateless; any thread.
class CDuration {
public:
    // True, with the nanoseconds (rounded to the nearest), when the text is
    // one within [nMinNs, nMaxNs].
    static bool Read(std::string_view text, int64_t nMinNs, int64_t nMaxNs, int64_t& nNs);
};
