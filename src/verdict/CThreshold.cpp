#include "verdict/CThreshold.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct MetricName {
    const char* pszName;
    bool bDuration;
};

// In the order of CThreshold::Metric.
constexpr MetricName kMetrics[] = {{"late_p50", true}, {"late_p99", true}, {"late_max", true},
                                   {"errors", false},  {"sent", false},    {"replies", false}};

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

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits with an optional fraction; nAt moves past them.
bool ReadNumber(const std::string& strText, size_t& nAt, double& dValue)
{
    const size_t nStart = nAt;
    while (nAt < strText.size() && IsDigit(strText[nAt]))
        ++nAt;
    if (nAt == nStart)
        return false;
    if (nAt < strText.size() && strText[nAt] == '.') {
        const size_t nFraction = ++nAt;
        while (nAt < strText.size() && IsDigit(strText[nAt]))
            ++nAt;
        if (nAt == nFraction)
            return false;
    }
    dValue = std::strtod(strText.substr(nStart, nAt - nStart).c_str(), nullptr);
    return true;
}

}  // namespace

CStatus CThreshold::Parse(const std::string& strExpression, CThreshold& threshold)
{
    const std::string strBad = "'" + strExpression + "' ";
    size_t nAt = 0;
    while (nAt < strExpression.size() && (strExpression[nAt] == '_' || (strExpression[nAt] >= 'a' &&
                                                                          strExpression[nAt] <= 'z') ||
                                          IsDigit(strExpression[nAt])))
        ++nAt;
    const std::string strMetric = strExpression.substr(0, nAt);
    const MetricName* pMetric = nullptr;
    for (const MetricName& metric : kMetrics) {
        if (strMetric == metric.pszName)
            pMetric = &metric;
    }
    if (!pMetric)
        return CStatus::Error(strBad + "has no known metric (late_p50, late_p99, late_max, errors, sent, replies)");
    const OpName* pOp = nullptr;
    for (const OpName& op : kOps) {
        if (!pOp && strExpression.compare(nAt, std::char_traits<char>::length(op.pszName), op.pszName) == 0)
            pOp = &op;
    }
    if (!pOp)
        return CStatus::Error(strBad + "has no operator (<, <=, >, >=, ==, !=) after " + strMetric);
    nAt += std::char_traits<char>::length(pOp->pszName);
    double dLimit = 0;
    if (!ReadNumber(strExpression, nAt, dLimit))
        return CStatus::Error(strBad + "has no number after the operator");
    const std::string strUnit = strExpression.substr(nAt);
    if (pMetric->bDuration) {
        const UnitName* pUnit = nullptr;
        for (const UnitName& unit : kDurationUnits) {
            if (strUnit == unit.pszName)
                pUnit = &unit;
        }
        if (!pUnit)
            return CStatus::Error(strBad + "needs a unit ns, us, ms or s after the number");
        dLimit *= pUnit->dToMs;
    } else if (strMetric == "replies" && strUnit == "%") {
        dLimit /= 100.0;
    } else if (!strUnit.empty()) {
        return CStatus::Error(strBad + "has '" + strUnit + "' after the number, where " + strMetric +
                              (strMetric == "replies" ? " takes a ratio or a percentage" : " takes a count"));
    }
    threshold.m_strExpression = strExpression;
    threshold.m_nMetric = static_cast<Metric>(pMetric - kMetrics);
    threshold.m_nOp = static_cast<Op>(pOp->nOp);
    threshold.m_dLimit = dLimit;
    return CStatus();
}

double CThreshold::Measure(const Figures& figures) const
{
    switch (m_nMetric) {
    case Metric::kLateP50:
        return figures.dLateP50Ms;
    case Metric::kLateP99:
        return figures.dLateP99Ms;
    case Metric::kLateMax:
        return figures.dLateMaxMs;
    case Metric::kErrors:
        return static_cast<double>(figures.nErrors);
    case Metric::kSent:
        return static_cast<double>(figures.nSent);
    case Metric::kReplies:
        break;
    }
    return figures.nSent > 0 ? static_cast<double>(figures.nReplies) / static_cast<double>(figures.nSent) : 0.0;
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
    if (m_nMetric == Metric::kLateP50 || m_nMetric == Metric::kLateP99 || m_nMetric == Metric::kLateMax)
        std::snprintf(value, sizeof value, "%.3f ms", dValue);
    else if (m_nMetric == Metric::kReplies)
        std::snprintf(value, sizeof value, "%.4f", dValue);
    else
        std::snprintf(value, sizeof value, "%.0f", dValue);
    return "threshold " + m_strExpression + ": " + value + (Holds(dValue) ? " ok" : " crossed");
}

bool CThreshold::Judge(const std::vector<CThreshold>& thresholds, CRunRecord& record)
{
    Figures figures;
    figures.nSent = record.nSent;
    figures.nErrors = record.nErrors;
    figures.nReplies = record.nReplies;
    figures.dLateP50Ms = record.lateness.dP50Ms;
    figures.dLateP99Ms = record.lateness.dP99Ms;
    figures.dLateMaxMs = record.lateness.dMaxMs;
    bool bCrossed = false;
    for (const CThreshold& threshold : thresholds) {
        const double dValue = threshold.Measure(figures);
        const bool bOk = threshold.Holds(dValue);
        record.verdicts.push_back({threshold.Expression(), dValue, bOk});
        bCrossed = bCrossed || !bOk;
    }
    return bCrossed;
}
