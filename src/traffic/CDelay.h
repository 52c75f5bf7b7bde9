#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A delay or a length of time: fixed ("250ms") or drawn from a
// distribution of durations: uniform(LO,HI), normal(MEAN,SD) (below zero
// counts as zero) or exponential(MEAN). Durations are a number and a unit:
// us, ms, s, min or h. A plain value; any thread.
class CDelay {
public:
    enum class Kind : uint8_t { kFixed, kUniform, kNormal, kExponential };

    // The longest duration taken: a year.
    static constexpr int64_t kMaxNs = int64_t{366} * 86400 * 1000000000;

    // A duration from 0 to a year; false when the text is not one.
    static bool ReadDuration(std::string_view text, int64_t& nNs);
    // A delay; false, with what is wrong (after the text in quotes), when
    // the text is not one.
    static bool Read(std::string_view text, CDelay& delay, std::string& strWrong);
    static CDelay Fixed(int64_t nNs);

    Kind GetKind() const { return m_nKind; }
    // The mean of the distribution (normal's before the cut at zero).
    int64_t MeanNs() const;
    bool IsZero() const { return m_nKind == Kind::kFixed && m_nA == 0; }
    // A draw from two independent random words.
    int64_t Draw(uint64_t nBits1, uint64_t nBits2) const;

    // What a duration looks like, for messages.
    static const char* DurationForm();

private:
    Kind m_nKind = Kind::kFixed;
    int64_t m_nA = 0;  // fixed: the value; uniform: LO; normal: MEAN; exponential: MEAN
    int64_t m_nB = 0;  // uniform: HI; normal: SD
};
