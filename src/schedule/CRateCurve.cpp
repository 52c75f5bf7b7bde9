#include "schedule/CRateCurve.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kNsPerSecond = 1e9;

}  // namespace

CRateCurve::CRateCurve(double dPerSecond) : m_points(std::make_unique<Point[]>(kMaxPoints))
{
    m_points[0] = {0, std::max(0.0, dPerSecond)};
    m_nPoints.store(1, std::memory_order_release);
}

bool CRateCurve::AddPoint(int64_t nAtNs, double dPerSecond)
{
    const size_t nPoints = m_nPoints.load(std::memory_order_relaxed);
    if (nPoints >= kMaxPoints)
        return false;
    m_points[nPoints] = {std::max(nAtNs, m_points[nPoints - 1].nNs), std::max(0.0, dPerSecond)};
    m_nPoints.store(nPoints + 1, std::memory_order_release);
    return true;
}

bool CRateCurve::Step(int64_t nAtNs, double dPerSecond)
{
    return m_nPoints.load(std::memory_order_relaxed) + 2 <= kMaxPoints && AddPoint(nAtNs, RateAt(nAtNs)) &&
           AddPoint(nAtNs, dPerSecond);
}

size_t CRateCurve::PointAt(int64_t nNs, size_t nPoints) const
{
    const Point* const pBegin = m_points.get();
    const Point* const pAfter = std::upper_bound(pBegin, pBegin + nPoints, nNs,
                                                 [](int64_t nValue, const Point& point) { return nValue < point.nNs; });
    return pAfter == pBegin ? 0 : static_cast<size_t>(pAfter - pBegin) - 1;
}

double CRateCurve::RateAt(int64_t nNs, size_t nPoints) const
{
    const size_t i = PointAt(nNs, nPoints);
    const Point& a = m_points[i];
    if (i + 1 >= nPoints || nNs <= a.nNs)
        return a.dRate;
    const Point& b = m_points[i + 1];
    return a.dRate + (b.dRate - a.dRate) * static_cast<double>(nNs - a.nNs) / static_cast<double>(b.nNs - a.nNs);
}

double CRateCurve::RateAt(int64_t nAtNs) const
{
    return RateAt(nAtNs, m_nPoints.load(std::memory_order_acquire));
}

double CRateCurve::Between(int64_t nFromNs, int64_t nToNs) const
{
    const size_t nPoints = m_nPoints.load(std::memory_order_acquire);
    double dSum = 0;
    int64_t nAt = nFromNs;
    while (nAt < nToNs) {
        const size_t i = PointAt(nAt, nPoints);
        const bool bToPoint = i + 1 < nPoints && m_points[i + 1].nNs <= nToNs;
        const int64_t nEnd = bToPoint ? m_points[i + 1].nNs : nToNs;
        // At a point the segment ends with that point's rate, before any step
        // that shares its instant.
        const double dEnd = bToPoint ? m_points[i + 1].dRate : RateAt(nEnd, nPoints);
        dSum += static_cast<double>(nEnd - nAt) / kNsPerSecond * (RateAt(nAt, nPoints) + dEnd) / 2;
        nAt = nEnd;
    }
    return dSum;
}

int64_t CRateCurve::After(int64_t nFromNs, double dDatagrams) const
{
    const size_t nPoints = m_nPoints.load(std::memory_order_acquire);
    double dLeft = dDatagrams;
    int64_t nAt = nFromNs;
    for (;;) {
        // The last point at or before nAt; of points that share an instant,
        // the last one rules.
        const size_t i = PointAt(nAt, nPoints);
        const double dFrom = RateAt(nAt, nPoints);
        if (i + 1 >= nPoints) {
            if (dFrom <= 0)
                return kNever;
            const double dNs = std::ceil(dLeft / dFrom * kNsPerSecond);
            return dNs >= static_cast<double>(kNever - nAt) ? kNever : nAt + static_cast<int64_t>(dNs);
        }
        const int64_t nEnd = m_points[i + 1].nNs;
        const double dTo = m_points[i + 1].dRate;
        const double dSeconds = static_cast<double>(nEnd - nAt) / kNsPerSecond;
        const double dArea = dSeconds * (dFrom + dTo) / 2;
        if (dArea < dLeft) {
            dLeft -= dArea;
            nAt = nEnd;
            continue;
        }
        // Within this segment: dFrom d + slope d^2 / 2 = dLeft, in the form
        // that stays exact when the slope is 0 or small.
        const double dSlope = (dTo - dFrom) / dSeconds;
        const double dRoot = std::sqrt(std::max(0.0, dFrom * dFrom + 2 * dSlope * dLeft));
        const double dDenominator = dFrom + dRoot;
        const double d = dDenominator > 0 ? 2 * dLeft / dDenominator : dSeconds;
        return std::min(nEnd, nAt + static_cast<int64_t>(std::ceil(d * kNsPerSecond)));
    }
}
