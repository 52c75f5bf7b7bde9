#pragma once

#include <cstdint>

// A share of a quantity without a wider integer type: the parts of a period
// or a ramp that device k of n gets. Stateless; any thread.
class CFraction {
public:
    // floor(nValue * nNumerator / nDenominator), exact while
    // (nDenominator - 1) * nNumerator and the result fit in 64 bits (a
    // million devices and a day in nanoseconds do by far).
    static constexpr uint64_t Of(uint64_t nValue, uint64_t nNumerator, uint64_t nDenominator)
    {
        return nValue / nDenominator * nNumerator + nValue % nDenominator * nNumerator / nDenominator;
    }
};
