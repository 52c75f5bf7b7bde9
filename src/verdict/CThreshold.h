#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "figures/CRunRecord.h"

// One pass/fail rule on a run's figures, as given with --threshold:
// METRIC OP NUMBER[UNIT], e.g. "late_p99<=5ms", "errors==0", "replies>=0.99".
// What a metric is measured in says its unit: durations need one (ns, us, ms
// or s; measured in ms), counts take none, ratios a plain ratio or a
// percentage such as 99%, rates (per second) none. Operators: < <= > >= ==
// !=. Which metrics there are is the caller's: a fleet's (FleetMetrics) or
// another run's. A plain value; any thread.
class CThreshold {
public:
    enum class Kind : uint8_t { kDuration, kCount, kRatio, kRate };

    struct Metric {
        const char* pszName;
        Kind nKind;
    };

    // What the rules are measured on: each metric's value by its name
    // (durations in milliseconds); a metric without a value measures 0.
    using Figures = std::map<std::string, double>;

    // A fleet's metrics: late_p50, late_p99, late_max, errors, sent, replies
    // (replies per datagram sent), rtt_p50, rtt_p99, rtt_max (round trips of
    // matched replies), reply_loss (datagrams lost per datagram tracked),
    // late_replies, duplicate_replies, unmatched_replies; faults (injected
    // faults of every kind) and faults_loss, faults_duplicate, ... (one
    // kind's; CFaultCounts).
    static const std::vector<Metric>& FleetMetrics();
    // A fleet's figures from its record.
    static Figures FleetFigures(const CRunRecord& record);

    // Fails with a message naming the expression as given.
    [[nodiscard]] static CStatus Parse(const std::string& strExpression, CThreshold& threshold,
                                       const std::vector<Metric>& metrics = FleetMetrics());

    const std::string& Expression() const { return m_strExpression; }
    const std::string& MetricName() const { return m_strMetric; }
    double Measure(const Figures& figures) const;
    // The value holds the rule (ok) or crosses it.
    bool Holds(double dValue) const;
    // "threshold late_p99<=5ms: 0.412 ms ok" (or "crossed").
    std::string Line(double dValue) const;

    // Judges each rule on the figures, in order, appending the verdicts;
    // answers whether any was crossed.
    static bool Judge(const std::vector<CThreshold>& thresholds, const Figures& figures,
                      std::vector<CRunRecord::Verdict>& verdicts);

private:
    enum class Op : uint8_t { kLess, kLessEqual, kGreater, kGreaterEqual, kEqual, kNotEqual };

    std::string m_strExpression;
    std::string m_strMetric;
    Kind m_nKind = Kind::kCount;
    Op m_nOp = Op::kEqual;
    double m_dLimit = 0;  // in the unit Measure answers
};
