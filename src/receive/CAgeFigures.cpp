#include "receive/CAgeFigures.h"

#include <algorithm>

CAgeFigures::CCounts::CCounts() : m_counts(2 * kSpan + 1) {}

void CAgeFigures::CCounts::Add(int64_t nSeconds)
{
    Figures& figures = m_figures;
    figures.nMin = figures.nCount == 0 ? nSeconds : std::min(figures.nMin, nSeconds);
    figures.nMax = figures.nCount == 0 ? nSeconds : std::max(figures.nMax, nSeconds);
    ++figures.nCount;
    if (nSeconds < -kSpan)
        ++m_nBelow;
    else if (nSeconds <= kSpan)
        ++m_counts[static_cast<size_t>(nSeconds + kSpan)];
}

CAgeFigures::Figures CAgeFigures::CCounts::Read() const
{
    Figures figures = m_figures;
    if (figures.nCount == 0)
        return figures;
    // The lower median: the age at rank ceil(n / 2).
    const uint64_t nRank = (figures.nCount + 1) / 2;
    uint64_t nBelow = m_nBelow;
    figures.nP50 = figures.nMax;
    if (nBelow >= nRank) {
        figures.nP50 = figures.nMin;
        return figures;
    }
    for (size_t i = 0; i < m_counts.size(); ++i) {
        nBelow += m_counts[i];
        if (nBelow >= nRank) {
            figures.nP50 = static_cast<int64_t>(i) - kSpan;
            break;
        }
    }
    return figures;
}

void CAgeFigures::CCounts::Clear()
{
    std::fill(m_counts.begin(), m_counts.end(), 0);
    m_nBelow = 0;
    m_figures = Figures();
}

CAgeFigures::CAgeFigures() = default;

void CAgeFigures::Add(int64_t nSeconds)
{
    m_total.Add(nSeconds);
    m_second.Add(nSeconds);
}

CAgeFigures::Figures CAgeFigures::TakeSecond()
{
    const Figures figures = m_second.Read();
    if (figures.nCount > 0)
        m_second.Clear();
    return figures;
}
