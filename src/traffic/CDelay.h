#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/CStatus.h"

// A length of time a user gives wherever one may vary: fixed ("250ms") or
// drawn from a distribution of durations, uniform(LO,HI), normal(MEAN,SD)
// (draws below zero are zero) or exponential(MEAN), each duration as
// CDuration reads it. The fleet's link delays, churn lengths and the
// receiver's answer delays are all read and drawn here. A plain value; any
// thread.
class CDelay {
public:
    enum class Kind : uint8_t { kFixed, kUniform, kNormal, kExponential };

    // Fails, naming the text in quotes and saying what is wrong, when the
    // text is not a delay.
    [[nodiscard]] static CStatus Read(std::string_view text, CDelay& delay);
    // The same, refused unless the duration, or a distribution's mean, lies
    // within [nMinNs, nMaxNs].
    [[nodiscard]] static CStatus ReadWithin(std::string_view text, int64_t nMinNs, int64_t nMaxNs, CDelay& delay);
    static CDelay Fixed(int64_t nNs);

    Kind GetKind() const { return m_nKind; }
    // The mean of the distribution (normal's before the cut at zero).
    int64_t MeanNs() const;
    bool IsZero() const { return m_nKind == Kind::kFixed && m_nA == 0; }
    // A draw from two independent random words (a fixed delay uses none).
    int64_t Draw(uint64_t nBits1, uint64_t nBits2) const;
    // As a user would write it: "20ms", "normal(20ms,5ms)".
    std::string Text() const;

    // What a delay looks like, for messages.
    static const char* Form();

private:
    Kind m_nKind = Kind::kFixed;
    int64_t m_nA = 0;  // fixed: the value; uniform: LO; normal: MEAN; exponential: MEAN
    int64_t m_nB = 0;  // uniform: HI; normal: SD
};
