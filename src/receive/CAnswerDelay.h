#pragma once

#include <cstdint>
#include <string>

#include "base/CStatus.h"

class CSeededRandom;

// How long a receive run holds an answer before sending it: a fixed
// duration ("20ms") or a draw for each answer from a distribution of
// durations, "uniform(A,B)", "normal(MEAN,SD)" or "exponential(MEAN)". A
// duration is a number with a unit, ns, us, ms or s, at most an hour. Draws
// below 0 (a normal's tail) are 0, above an hour an hour. A plain value;
// any thread, one random source per thread.
class CAnswerDelay {
public:
    static constexpr int64_t kMaxNs = 3600LL * 1000000000LL;

    // No delay.
    CAnswerDelay() = default;

    // Fails with a message that names the text as given.
    [[nodiscard]] static CStatus Parse(const std::string& strText, CAnswerDelay& delay);

    // The delay of one answer, in nanoseconds.
    int64_t Draw(CSeededRandom& random) const;
    // Every draw is 0.
    bool IsZero() const { return m_nKind == Kind::kFixed && m_nA == 0; }
    // As it was given ("0ms" for none).
    const std::string& Text() const { return m_strText; }

private:
    enum class Kind : uint8_t { kFixed, kUniform, kNormal, kExponential };

    Kind m_nKind = Kind::kFixed;
    int64_t m_nA = 0;  // the fixed duration, the low end, the mean
    int64_t m_nB = 0;  // the high end, the standard deviation
    std::string m_strText = "0ms";
};
