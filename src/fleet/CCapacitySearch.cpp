#include "fleet/CCapacitySearch.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "text/CDuration.h"
#include "traffic/COptionText.h"
#include "traffic/CRate.h"
#include "traffic/CTrafficConfig.h"

CStatus CCapacitySearch::Read(std::string_view text, Settings& settings)
{
    const std::string strForm =
        "is not FROM..TO[,xFACTOR|,+STEP][,DURATION], e.g. 1k/s..200k/s,x1.25,20s (rates as --rate takes them, "
        "FACTOR above 1, DURATION a step's length)";
    const size_t nDots = text.find("..");
    if (nDots == std::string_view::npos)
        return COptionText::Refuse(text, strForm);
    const std::vector<std::string> items = COptionText::SplitList(text.substr(nDots + 2));
    Settings read;
    if (items.size() > 3 || !CRate::Read(text.substr(0, nDots), CTrafficConfig::kMaxRate, read.dFrom).IsOk() ||
        !CRate::Read(items[0], CTrafficConfig::kMaxRate, read.dTo).IsOk())
        return COptionText::Refuse(text, strForm);
    if (read.dFrom >= read.dTo)
        return COptionText::Refuse(text, "has FROM at or above TO: the search rises from FROM to TO");
    for (size_t i = 1; i < items.size(); ++i) {
        const std::string& strItem = items[i];
        if (!strItem.empty() && strItem.front() == 'x') {
            double dFactor = 0;
            if (!COptionText::ReadNumber(std::string_view(strItem).substr(1), dFactor) || !(dFactor > 1) ||
                dFactor > 100)
                return COptionText::Refuse(text, "has the factor '" + strItem + "', which is not above 1 (at most 100)");
            read.dFactor = dFactor;
        } else if (!strItem.empty() && strItem.front() == '+') {
            if (!CRate::Read(std::string_view(strItem).substr(1), CTrafficConfig::kMaxRate, read.dStep).IsOk())
                return COptionText::Refuse(text, "has the step '" + strItem + "', which is not + and a rate above 0");
        } else if (!CDuration::Read(strItem, CDuration::kNsPerSecond, kMaxStepNs, read.nStepNs)) {
            return COptionText::Refuse(text, "has '" + strItem + "', which is not xFACTOR, +STEP or a step's length "
                                                                  "from 1s to 1h");
        }
    }
    settings = read;
    return CStatus();
}

CCapacitySearch::CCapacitySearch(Settings settings, std::vector<CThreshold> thresholds, int64_t nSettleNs,
                                 bool bReplies, bool bTraffic)
    : m_settings(settings),
      m_thresholds(std::move(thresholds)),
      m_nStepSeconds(std::max<uint64_t>(1, static_cast<uint64_t>((settings.nStepNs + 500000000) / 1000000000))),
      // Replies to the step before are in, or lost, after the settle time;
      // a loss counts in the second after its timeout at the latest.
      m_nSettleSeconds(static_cast<uint64_t>((nSettleNs + 999999999) / 1000000000) + 1),
      m_bReplies(bReplies),
      m_bTraffic(bTraffic),
      m_dRate(settings.dFrom)
{
    m_result.dFrom = settings.dFrom;
    m_result.dTo = settings.dTo;
    m_result.dStepSeconds = static_cast<double>(m_nStepSeconds);
    m_result.dSettleSeconds = static_cast<double>(m_nSettleSeconds);
    m_result.dRequired = settings.dRequired;
}

std::optional<double> CCapacitySearch::OnSecond(const CWindowFigures::Second& second)
{
    if (m_bDone)
        return std::nullopt;
    if (m_dAfterRest) {
        if (second.figures.nT + 1 < m_nStepStart)
            return std::nullopt;
        m_dRate = *m_dAfterRest;
        m_dAfterRest.reset();
        return m_dRate;
    }
    if (second.figures.nT >= m_nStepStart + m_nSettleSeconds) {
        m_window.Add(second);
        m_nStepBehind += second.figures.bBehind ? 1 : 0;
    }
    if (second.figures.nT + 1 < m_nStepStart + m_nStepSeconds)
        return std::nullopt;
    const std::optional<double> dNext = JudgeStep();
    m_window = CWindowFigures();
    m_nStepBehind = 0;
    m_nStepStart = second.figures.nT + 1;
    if (!dNext)
        return std::nullopt;
    if (!m_result.steps.back().bHeld) {
        // The step that crossed left the server a backlog, which would
        // still be draining in the next step and be counted against its
        // rate: the fleet rests at FROM (a rate below the last that held)
        // for the settle time first.
        m_dAfterRest = dNext;
        m_nStepStart += m_nSettleSeconds;
        m_dRate = m_settings.dFrom;
        return m_dRate;
    }
    m_dRate = *dNext;
    return dNext;
}

CRunRecord::Capacity CCapacitySearch::Result() const
{
    CRunRecord::Capacity result = m_result;
    result.bComplete = m_bDone;
    return result;
}

double CCapacitySearch::Rise(double dRate) const
{
    return std::min(m_settings.dTo, m_settings.dStep > 0 ? dRate + m_settings.dStep : dRate * m_settings.dFactor);
}

std::optional<double> CCapacitySearch::JudgeStep()
{
    const CRunRecord figures = m_window.Record(m_bReplies, m_bTraffic);
    CRunRecord::CapacityStep step;
    step.dRate = m_dRate;
    step.nFirstSecond = m_nStepStart + m_nSettleSeconds;
    step.nSeconds = m_window.Seconds();
    step.nBehindSeconds = m_nStepBehind;
    step.nSent = figures.nSent;
    step.nErrors = figures.nErrors;
    step.lateness = figures.lateness;
    step.latenessHistogram = figures.latenessHistogram;
    step.replies = figures.replyMatching;
    step.bHeld = !CThreshold::Judge(m_thresholds, CThreshold::FleetFigures(figures), step.verdicts);
    m_result.steps.push_back(step);
    m_result.Conclude();

    // A fleet that could not keep up measured itself, not the server.
    if (step.nBehindSeconds > 0) {
        m_bDone = true;
        return std::nullopt;
    }
    if (step.bHeld)
        m_dGood = m_dRate;
    else
        m_dBad = m_dRate;
    if (m_dBad) {
        // Refining halves the gap between the last rate that held and the
        // first that did not; without one that held there is no capacity.
        if (!m_dGood || m_nRefined >= m_settings.nRefine) {
            m_bDone = true;
            return std::nullopt;
        }
        const double dMiddle = std::round((*m_dGood + *m_dBad) / 2);
        if (dMiddle <= *m_dGood || dMiddle >= *m_dBad) {
            m_bDone = true;
            return std::nullopt;
        }
        ++m_nRefined;
        return dMiddle;
    }
    if (m_dRate >= m_settings.dTo) {
        m_bDone = true;
        return std::nullopt;
    }
    return Rise(m_dRate);
}
