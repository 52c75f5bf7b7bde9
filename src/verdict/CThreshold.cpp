#include "verdict/CThreshold.h"

#include <cstdio>

#include "text/CDecimal.h"
#include "text/CDuration.h"

namespace {

// Two-character operators first, so that "<=" is not read as "<".
struct OpName {
    const char* pszName;
    int nOp;
};
constexpr OpName kOps[] = {{"<=", 1}, {">=", 3}, {"==", 4}, {"!=", 5}, {"<", 0}, {">", 2}};

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
        return CStatus::Invalid(strBad + "has no known metric (" + strNames + ")");
    const OpName* pOp = nullptr;
    for (const OpName& op : kOps) {
        if (!pOp && strExpression.compare(nAt, std::char_traits<char>::length(op.pszName), op.pszName) == 0)
            pOp = &op;
    }
    if (!pOp)
        return CStatus::Invalid(strBad + "has no operator (<, <=, >, >=, ==, !=) after " + strMetric);
    nAt += std::char_traits<char>::length(pOp->pszName);
    double dLimit = 0;
    const size_t nNumber = nAt;
    if (!CDecimal::ReadFraction(strExpression, nAt, dLimit))
        return CStatus::Invalid(strBad + "has no number after the operator");
    const std::string strUnit = strExpression.substr(nAt);
    const bool bShare = pMetric->nKind == Kind::kRatio || pMetric->nKind == Kind::kShare;
    if (pMetric->nKind == Kind::kDuration) {
        int64_t nNs = 0;
        if (!CDuration::Read(std::string_view(strExpression).substr(nNumber), nNs))
            return CStatus::Invalid(strBad + "needs a duration after the operator (" + CDuration::Form() + ")");
        dLimit = static_cast<double>(nNs) / 1e6;
    } else if (bShare && strUnit == "%") {
        dLimit /= 100.0;
    } else if (!strUnit.empty()) {
        return CStatus::Invalid(strBad + "has '" + strUnit + "' after the number, where " + strMetric +
                                (bShare                          ? " takes a ratio or a percentage"
                                 : pMetric->nKind == Kind::kRate ? " takes a number a second"
                                                                 : " takes a count"));
    }
    if (pMetric->nKind == Kind::kShare && dLimit > 1.0)
        return CStatus::Invalid(strBad + "has a share above 100%, where " + strMetric + " goes from 0 to 100%");
    threshold.m_strExpression = strExpression;
    threshold.m_strMetric = strMetric;
    threshold.m_nKind = pMetric->nKind;
    threshold.m_nEvidence = pMetric->nEvidence;
    threshold.m_nFault = pMetric->nFault;
    threshold.m_nOp = static_cast<Op>(pOp->nOp);
    threshold.m_dLimit = dLimit;
    return CStatus();
}

std::optional<double> CThreshold::Measure(const Figures& figures) const
{
    const auto found = figures.find(m_strMetric);
    return found != figures.end() ? std::optional<double>(found->second) : std::nullopt;
}

bool CThreshold::Holds(std::optional<double> value) const
{
    if (!value)
        return false;
    const double dValue = *value;
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

CVerdict CThreshold::Judge(const Figures& figures) const
{
    CVerdict verdict;
    verdict.strExpression = m_strExpression;
    verdict.value = Measure(figures);
    verdict.bOk = Holds(verdict.value);
    return verdict;
}

std::string CThreshold::Line(const CVerdict& verdict) const
{
    if (!verdict.value)
        return "threshold " + m_strExpression + ": no data crossed";
    const double dValue = *verdict.value;
    char value[64];
    switch (m_nKind) {
    case Kind::kDuration:
        std::snprintf(value, sizeof value, "%.3f ms", dValue);
        break;
    case Kind::kRatio:
    case Kind::kShare:
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
    constexpr Evidence kReplies = Evidence::kReplies;
    static const std::vector<Metric> metrics = {
        {"late_p50", Kind::kDuration},
        {"late_p99", Kind::kDuration},
        {"late_max", Kind::kDuration},
        {"errors", Kind::kCount},
        {"sent", Kind::kCount},
        {"replies", Kind::kRatio, kReplies},
        {"rtt_p50", Kind::kDuration, kReplies},
        {"rtt_p99", Kind::kDuration, kReplies},
        {"rtt_max", Kind::kDuration, kReplies},
        {"reply_loss", Kind::kShare, kReplies},
        {"late_replies", Kind::kCount, kReplies},
        {"duplicate_replies", Kind::kCount, kReplies},
        {"unmatched_replies", Kind::kCount, kReplies},
        {"handshake_p50", Kind::kDuration, Evidence::kDtls},
        {"handshake_p99", Kind::kDuration, Evidence::kDtls},
        {"handshake_max", Kind::kDuration, Evidence::kDtls},
        {"handshake_failures", Kind::kCount, Evidence::kDtls},
    };
    static const std::vector<Metric> withFaults = [] {
        std::vector<Metric> list = metrics;
        const std::vector<std::string>& names = FaultMetricNames();
        list.push_back({names[0].c_str(), Kind::kCount, Evidence::kAnyFault});
        for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
            list.push_back({names[i + 1].c_str(), Kind::kCount, Evidence::kFault, static_cast<int>(i)});
        return list;
    }();
    return withFaults;
}

CThreshold::Figures CThreshold::FleetFigures(const CRunRecord& record)
{
    Figures figures = {
        {"errors", static_cast<double>(record.nErrors)},
        {"sent", static_cast<double>(record.nSent)},
    };
    AddQuantiles(figures, "late", record.lateness);
    if (record.nSent > 0)
        figures["replies"] = static_cast<double>(record.nReplies) / static_cast<double>(record.nSent);
    if (record.replyMatching) {
        const CRunRecord::ReplyMatching& matching = *record.replyMatching;
        const CReplyStats::Counts& counts = matching.counts;
        AddQuantiles(figures, "rtt", matching.rtt);
        // Of the tracked datagrams whose fate is known.
        if (counts.Known() > 0)
            figures["reply_loss"] = counts.LossShare();
        figures["late_replies"] = static_cast<double>(counts.nLate);
        figures["duplicate_replies"] = static_cast<double>(counts.nDuplicate);
        figures["unmatched_replies"] = static_cast<double>(counts.nUnmatched);
    }
    if (record.handshakes) {
        AddQuantiles(figures, "handshake", record.handshakes->time);
        figures["handshake_failures"] = static_cast<double>(record.handshakes->Failed());
    }
    const std::vector<std::string>& faults = FaultMetricNames();
    figures[faults[0]] = static_cast<double>(record.faults.Total());
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
        figures[faults[i + 1]] = static_cast<double>(record.faults.counts[i]);
    return figures;
}

std::string CThreshold::LineOf(const CVerdict& verdict)
{
    CThreshold threshold;
    if (Parse(verdict.strExpression, threshold).IsOk())
        return threshold.Line(verdict);
    return "threshold " + verdict.strExpression + ": " + verdict.ValueText() + (verdict.bOk ? " ok" : " crossed");
}

bool CThreshold::Judge(const std::vector<CThreshold>& thresholds, const Figures& figures,
                       std::vector<CVerdict>& verdicts)
{
    bool bCrossed = false;
    for (const CThreshold& threshold : thresholds) {
        verdicts.push_back(threshold.Judge(figures));
        bCrossed = bCrossed || !verdicts.back().bOk;
    }
    return bCrossed;
}

void CThreshold::AddQuantiles(Figures& figures, const std::string& strPrefix,
                              const CLatencyHistogram::Figures& quantiles)
{
    if (quantiles.nCount == 0)
        return;
    figures[strPrefix + "_p50"] = quantiles.dP50Ms;
    figures[strPrefix + "_p99"] = quantiles.dP99Ms;
    figures[strPrefix + "_max"] = quantiles.dMaxMs;
}
