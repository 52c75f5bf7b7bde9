#include "schedule/CRateCurve.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kNsPerSecond = 1e9;

}  // namespace

CRateCurve::CRateCurve(double dPerSecond) : m_points(std::make_unique<Point[]>(kMaxPoints))
{
    m_points[0] = {0, std::max(0.0, dPerSecond), 0};
    m_nPoints.store(1, std::memory_order_release);
}

bool CRateCurve::AddPoint(int64_t nAtNs, double dPerSecond)
{
    const size_t nPoints = m_nPoints.load(std::memory_order_relaxed);
    if (nPoints >= kMaxPoints)
        return false;
    const Point& last = m_points[nPoints - 1];
    const int64_t nNs = std::max(nAtNs, last.nNs);
    const double dRate = std::max(0.0, dPerSecond);
    const double dOwed = last.dOwed + static_cast<double>(nNs - last.nNs) / kNsPerSecond * (last.dRate + dRate) / 2;
    m_points[nPoints] = {nNs, dRate, dOwed};
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

double CRateCurve::Owed(int64_t nAtNs) const
{
    const size_t nPoints = m_nPoints.load(std::memory_order_acquire);
    if (nAtNs <= 0)
        return 0;
    // Of points that share an instant the last rules; between a point and
    // the next the rate is straight.
    const size_t i = PointAt(nAtNs, nPoints);
    const Point& a = m_points[i];
    return a.dOwed + static_cast<double>(nAtNs - a.nNs) / kNsPerSecond * (a.dRate + RateAt(nAtNs, nPoints)) / 2;
}

int64_t CRateCurve::When(double dDatagrams) const
{
    const size_t nPoints = m_nPoints.load(std::memory_order_acquire);
    if (dDatagrams <= 0)
        return 0;
    // The last point by which fewer than dDatagrams were owed.
    const Point* const pBegin = m_points.get();
    const Point* const pAfter = std::lower_bound(pBegin, pBegin + nPoints, dDatagrams,
                                                 [](const Point& point, double d) { return point.dOwed < d; });
    const Point& a = *(pAfter - 1);
    const double dLeft = dDatagrams - a.dOwed;
    if (pAfter == pBegin + nPoints) {
        if (a.dRate <= 0)
            return kNever;
        const double dNs = std::ceil(dLeft / a.dRate * kNsPerSecond);
        return dNs >= static_cast<double>(kNever - a.nNs) ? kNever : a.nNs + static_cast<int64_t>(dNs);
    }
    const Point& b = *pAfter;
    // Within [a, b): a.rate d + slope d^2 / 2 = left, in the form that stays
    // exact when the slope is 0 or small.
    const double dSeconds = static_cast<double>(b.nNs - a.nNs) / kNsPerSecond;
    const double dSlope = (b.dRate - a.dRate) / dSeconds;
    const double dRoot = std::sqrt(std::max(0.0, a.dRate * a.dRate + 2 * dSlope * dLeft));
    const double dDenominator = a.dRate + dRoot;
    const double d = dDenominator > 0 ? 2 * dLeft / dDenominator : dSeconds;
    return std::min(b.nNs, a.nNs + static_cast<int64_t>(std::ceil(d * kNsPerSecond)));
}
