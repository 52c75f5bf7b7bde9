#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "figures/CRunRecord.h"

// One pass/fail rule on a run's figures, as given with --threshold:
// METRIC OP NUMBER[UNIT], e.g. "late_p99<=5ms", "errors==0", "replies>=0.99".
// Metrics: late_p50, late_p99, late_max (durations, a unit ns, us, ms or s
// required), errors and sent (counts, no unit), replies (replies per
// datagram sent, a ratio or a percentage such as 99%). Operators: < <= > >=
// == !=. A plain value; any thread.
class CThreshold {
public:
    // What a rule is measured on.
    struct Figures {
        uint64_t nSent = 0;
        uint64_t nErrors = 0;
        uint64_t nReplies = 0;
        double dLateP50Ms = 0;
        double dLateP99Ms = 0;
        double dLateMaxMs = 0;
    };

    // Fails with a message naming the expression as given.
    [[nodiscard]] static CStatus Parse(const std::string& strExpression, CThreshold& threshold);

    const std::string& Expression() const { return m_strExpression; }
    // The metric's value: milliseconds for durations, a ratio for replies
    // (0 when nothing was sent).
    double Measure(const Figures& figures) const;
    // The value holds the rule (ok) or crosses it.
    bool Holds(double dValue) const;
    // "threshold late_p99<=5ms: 0.412 ms ok" (or "crossed").
    std::string Line(double dValue) const;

    // Judges each rule on a run's record, in order, and appends the verdicts
    // to it; answers whether any was crossed.
    static bool Judge(const std::vector<CThreshold>& thresholds, CRunRecord& record);

private:
    enum class Metric : uint8_t { kLateP50, kLateP99, kLateMax, kErrors, kSent, kReplies };
    enum class Op : uint8_t { kLess, kLessEqual, kGreater, kGreaterEqual, kEqual, kNotEqual };

    std::string m_strExpression;
    Metric m_nMetric = Metric::kErrors;
    Op m_nOp = Op::kEqual;
    double m_dLimit = 0;  // in the unit Measure answers
};
