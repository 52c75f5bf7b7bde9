#include "verdict/CThreshold.h"

#include <cstdio>

#include "text/CDecimal.h"

namespace {

// Two-character operators first, so that "<=" is not read as "<".
struct OpName {
    const char* pszName;
    int nOp;
};
constexpr OpName kOps[] = {{"<=", 1}, {">=", 3}, {"==", 4}, {"!=", 5}, {"<", 0}, {">", 2}};

struct UnitName {
    const char* pszName;
    double dToMs;
};
constexpr UnitName kDurationUnits[] = {{"ns", 1e-6}, {"us", 1e-3}, {"ms", 1.0}, {"s", 1e3}};

// The faults' metrics: "faults" (all kinds) and "faults_" and a kind's
// name, each a count.
const std::vector<std::string>& FaultMetricNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list = {"faults"};
        for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
            list.push_back(std::string("faults_") + CFaultCounts::Name(i));
        return list;
    }();
    return names;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

CStatus CThreshold::Parse(const std::string& strExpression, CThreshold& threshold, const std::vector<Metric>& metrics)
{
    const std::string strBad = "'" + strExpression + "' ";
    size_t nAt = 0;
    while (nAt < strExpression.size() && (strExpression[nAt] == '_' || (strExpression[nAt] >= 'a' &&
                                                                          strExpression[nAt] <= 'z') ||
                                          IsDigit(strExpression[nAt])))
        ++nAt;
    const std::string strMetric = strExpression.substr(0, nAt);
    const Metric* pMetric = nullptr;
    std::string strNames;
    for (const Metric& metric : metrics) {
        if (strMetric == metric.pszName)
            pMetric = &metric;
        strNames += (strNames.empty() ? "" : ", ") + std::string(metric.pszName);
    }
    if (!pMetric)
        return CStatus::Error(strBad + "has no known metric (" + strNames + ")");
    const OpName* pOp = nullptr;
    for (const OpName& op : kOps) {
        if (!pOp && strExpression.compare(nAt, std::char_traits<char>::length(op.pszName), op.pszName) == 0)
            pOp = &op;
    }
    if (!pOp)
        return CStatus::Error(strBad + "has no operator (<, <=, >, >=, ==, !=) after " + strMetric);
    nAt += std::char_traits<char>::length(pOp->pszName);
    double dLimit = 0;
    if (!CDecimal::ReadFraction(strExpression, nAt, dLimit))
        return CStatus::Error(strBad + "has no number after the operator");
    const std::string strUnit = strExpression.substr(nAt);
    if (pMetric->nKind == Kind::kDuration) {
        const UnitName* pUnit = nullptr;
        for (const UnitName& unit : kDurationUnits) {
            if (strUnit == unit.pszName)
                pUnit = &unit;
        }
        if (!pUnit)
            return CStatus::Error(strBad + "needs a unit ns, us, ms or s after the number");
        dLimit *= pUnit->dToMs;
    } else if (pMetric->nKind == Kind::kRatio && strUnit == "%") {
        dLimit /= 100.0;
    } else if (!strUnit.empty()) {
        return CStatus::Error(strBad + "has '" + strUnit + "' after the number, where " + strMetric +
                              (pMetric->nKind == Kind::kRatio  ? " takes a ratio or a percentage"
                               : pMetric->nKind == Kind::kRate ? " takes a number a second"
                                                               : " takes a count"));
    }
    threshold.m_strExpression = strExpression;
    threshold.m_strMetric = strMetric;
    threshold.m_nKind = pMetric->nKind;
    threshold.m_nOp = static_cast<Op>(pOp->nOp);
    threshold.m_dLimit = dLimit;
    return CStatus();
}

double CThreshold::Measure(const Figures& figures) const
{
    const auto found = figures.find(m_strMetric);
    return found != figures.end() ? found->second : 0.0;
}

bool CThreshold::Holds(double dValue) const
{
    switch (m_nOp) {
    case Op::kLess:
        return dValue < m_dLimit;
    case Op::kLessEqual:
        return dValue <= m_dLimit;
    case Op::kGreater:
        return dValue > m_dLimit;
    case Op::kGreaterEqual:
        return dValue >= m_dLimit;
    case Op::kEqual:
        return dValue == m_dLimit;
    case Op::kNotEqual:
        break;
    }
    return dValue != m_dLimit;
}

std::string CThreshold::Line(double dValue) const
{
    char value[64];
    switch (m_nKind) {
    case Kind::kDuration:
        std::snprintf(value, sizeof value, "%.3f ms", dValue);
        break;
    case Kind::kRatio:
        std::snprintf(value, sizeof value, "%.4f", dValue);
        break;
    case Kind::kRate:
        std::snprintf(value, sizeof value, "%.1f/s", dValue);
        break;
    case Kind::kCount:
        std::snprintf(value, sizeof value, "%.0f", dValue);
        break;
    }
    return "threshold " + m_strExpression + ": " + value + (Holds(dValue) ? " ok" : " crossed");
}

const std::vector<CThreshold::Metric>& CThreshold::FleetMetrics()
{
    static const std::vector<Metric> metrics = {
        {"late_p50", Kind::kDuration},     {"late_p99", Kind::kDuration},     {"late_max", Kind::kDuration},
        {"errors", Kind::kCount},          {"sent", Kind::kCount},            {"replies", Kind::kRatio},
        {"rtt_p50", Kind::kDuration},      {"rtt_p99", Kind::kDuration},      {"rtt_max", Kind::kDuration},
        {"reply_loss", Kind::kRatio},      {"late_replies", Kind::kCount},    {"duplicate_replies", Kind::kCount},
        {"unmatched_replies", Kind::kCount},
    };
    static const std::vector<Metric> withFaults = [] {
        std::vector<Metric> list = metrics;
        for (const std::string& strName : FaultMetricNames())
            list.push_back({strName.c_str(), Kind::kCount});
        return list;
    }();
    return withFaults;
}

CThreshold::Figures CThreshold::FleetFigures(const CRunRecord& record)
{
    const auto ratio = [](uint64_t nPart, uint64_t nWhole) {
        return nWhole > 0 ? static_cast<double>(nPart) / static_cast<double>(nWhole) : 0.0;
    };
    Figures figures = {
        {"late_p50", record.lateness.dP50Ms},
        {"late_p99", record.lateness.dP99Ms},
        {"late_max", record.lateness.dMaxMs},
        {"errors", static_cast<double>(record.nErrors)},
        {"sent", static_cast<double>(record.nSent)},
        {"replies", ratio(record.nReplies, record.nSent)},
    };
    if (record.replyMatching) {
        const CRunRecord::ReplyMatching& matching = *record.replyMatching;
        const CReplyStats::Counts& counts = matching.counts;
        figures["rtt_p50"] = matching.rtt.dP50Ms;
        figures["rtt_p99"] = matching.rtt.dP99Ms;
        figures["rtt_max"] = matching.rtt.dMaxMs;
        // Of the tracked datagrams whose fate is known.
        figures["reply_loss"] = ratio(counts.nLost, counts.nMatched + counts.nLost);
        figures["late_replies"] = static_cast<double>(counts.nLate);
        figures["duplicate_replies"] = static_cast<double>(counts.nDuplicate);
        figures["unmatched_replies"] = static_cast<double>(counts.nUnmatched);
    }
    const std::vector<std::string>& faults = FaultMetricNames();
    figures[faults[0]] = static_cast<double>(record.faults.Total());
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
        figures[faults[i + 1]] = static_cast<double>(record.faults.counts[i]);
    return figures;
}

bool CThreshold::Judge(const std::vector<CThreshold>& thresholds, const Figures& figures,
                       std::vector<CRunRecord::Verdict>& verdicts)
{
    bool bCrossed = false;
    for (const CThreshold& threshold : thresholds) {
        const double dValue = threshold.Measure(figures);
        const bool bOk = threshold.Holds(dValue);
        verdicts.push_back({threshold.Expression(), dValue, bOk});
        bCrossed = bCrossed || !bOk;
    }
    return bCrossed;
}
