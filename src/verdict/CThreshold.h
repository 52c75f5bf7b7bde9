#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "figures/CRunRecord.h"
#include "figures/CVerdict.h"

// One pass/fail rule on a run's figures, as given with --threshold:
// METRIC OP NUMBER[UNIT], e.g. "late_p99<=5ms", "errors==0", "replies>=0.99".
// What a metric is measured in says its unit: durations need one (as
// CDuration reads them; measured in ms), counts take none, ratios a plain
// ratio or a percentage such as 99%, shares the same but at most 100%, rates
// (per second) none. Operators: < <= > >= == !=. Which metrics there are is
// the caller's: a fleet's (FleetMetrics) or another run's. A metric that has
// no value in the figures had no samples: its rule is crossed ("no data"),
// never passed on no evidence. A plain value; any thread.
class CThreshold {
public:
    enum class Kind : uint8_t { kDuration, kCount, kRatio, kShare, kRate };
    // The longest window a run judges its thresholds over each second.
    static constexpr int64_t kMaxWindowNs = int64_t{3600} * 1000000000;
    // What a run must do for a metric to measure anything: nothing more,
    // match replies, count a member, inject a kind of fault (nFault) or any,
    // talk DTLS.
    enum class Evidence : uint8_t { kAlways, kReplies, kCounter, kFault, kAnyFault, kDtls };

    struct Metric {
        const char* pszName;
        Kind nKind;
        Evidence nEvidence = Evidence::kAlways;
        int nFault = -1;  // kFault: the CFaultCounts kind
    };

    // What the rules are measured on: each metric's value by its name
    // (durations in milliseconds); a metric without samples has none.
    using Figures = std::map<std::string, double>;

    // A fleet's metrics: late_p50, late_p99, late_max, errors, sent; with
    // replies matched, replies (replies per datagram sent), rtt_p50,
    // rtt_p99, rtt_max (round trips of matched replies), reply_loss
    // (datagrams lost per datagram whose fate is known), late_replies,
    // duplicate_replies, unmatched_replies; with faults injected, faults
    // (of every kind) and faults_loss, faults_duplicate, ... (one kind's;
    // CFaultCounts); with DTLS, handshake_p50, handshake_p99, handshake_max
    // (completed handshakes' durations) and handshake_failures.
    static const std::vector<Metric>& FleetMetrics();
    // A fleet's figures from its record.
    static Figures FleetFigures(const CRunRecord& record);
    // PREFIX_p50, PREFIX_p99 and PREFIX_max of durations, when there were
    // any.
    static void AddQuantiles(Figures& figures, const std::string& strPrefix,
                             const CLatencyHistogram::Figures& quantiles);

    // Fails with a message naming the expression as given.
    [[nodiscard]] static CStatus Parse(const std::string& strExpression, CThreshold& threshold,
                                       const std::vector<Metric>& metrics = FleetMetrics());

    const std::string& Expression() const { return m_strExpression; }
    const std::string& MetricName() const { return m_strMetric; }
    Evidence GetEvidence() const { return m_nEvidence; }
    int Fault() const { return m_nFault; }
    // The metric's value, none without samples.
    std::optional<double> Measure(const Figures& figures) const;
    // The value holds the rule (ok) or crosses it; no value crosses it.
    bool Holds(std::optional<double> value) const;
    CVerdict Judge(const Figures& figures) const;
    // "threshold late_p99<=5ms: 0.412 ms ok" (or "crossed"; "no data
    // crossed" without a value).
    std::string Line(const CVerdict& verdict) const;

    // A verdict's line as its threshold (a fleet's) says it, read again
    // from its expression: "threshold rtt_p99<=50ms: 73.210 ms crossed".
    static std::string LineOf(const CVerdict& verdict);

    // Judges each rule on the figures, in order, appending the verdicts;
    // answers whether any was crossed.
    static bool Judge(const std::vector<CThreshold>& thresholds, const Figures& figures,
                      std::vector<CVerdict>& verdicts);

private:
    enum class Op : uint8_t { kLess, kLessEqual, kGreater, kGreaterEqual, kEqual, kNotEqual };

    std::string m_strExpression;
    std::string m_strMetric;
    Kind m_nKind = Kind::kCount;
    Evidence m_nEvidence = Evidence::kAlways;
    int m_nFault = -1;
    Op m_nOp = Op::kEqual;
    double m_dLimit = 0;  // in the unit Measure answers
};
