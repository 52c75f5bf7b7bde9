#include "report/CPlotAxis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

// The seconds a time axis steps by: whole seconds, minutes and hours that a
// clock face divides evenly.
constexpr double kTimeSteps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,   600,
                                 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800};

// The smallest of 1, 2 or 5 times a power of ten that is at least dRough.
double NiceStep(double dRough)
{
    const double dPower = std::pow(10.0, std::floor(std::log10(dRough)));
    for (const double dFactor : {1.0, 2.0, 5.0, 10.0}) {
        if (dFactor * dPower >= dRough * (1 - 1e-9))
            return dFactor * dPower;
    }
    return 10 * dPower;
}

// Decimals enough to tell ticks dStep apart, none for whole steps.
int DecimalsFor(double dStep)
{
    return dStep >= 1 ? 0 : std::min(9, static_cast<int>(std::ceil(-std::log10(dStep) - 1e-9)));
}

std::string Fixed(double dValue, int nDecimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", nDecimals, dValue);
    return text;
}

}  // namespace

CPlotAxis::CPlotAxis(Kind nKind, double dLow, double dHigh, double dStep)
    : m_nKind(nKind), m_dLow(dLow), m_dHigh(dHigh), m_dStep(dStep)
{
    if (nKind == Kind::kLog) {
        for (double dTick = dLow; dTick <= dHigh * (1 + 1e-9); dTick *= 10)
            m_ticks.push_back(dTick);
        return;
    }
    const int nSteps = static_cast<int>(std::llround((dHigh - dLow) / dStep));
    for (int i = 0; i <= nSteps; ++i)
        m_ticks.push_back(dLow + i * dStep);
}

CPlotAxis CPlotAxis::Linear(double dHigh, int nTicks)
{
    if (!(dHigh > 0) || !std::isfinite(dHigh))
        return CPlotAxis(Kind::kLinear, 0, 1, 1);
    const double dStep = NiceStep(dHigh / std::max(1, nTicks));
    return CPlotAxis(Kind::kLinear, 0, std::ceil(dHigh / dStep - 1e-9) * dStep, dStep);
}

CPlotAxis CPlotAxis::Seconds(double dSeconds, int nTicks)
{
    const double dSpan = dSeconds > 1 && std::isfinite(dSeconds) ? dSeconds : 1;
    double dStep = kTimeSteps[std::size(kTimeSteps) - 1];
    for (const double dCandidate : kTimeSteps) {
        if (dSpan / dCandidate <= std::max(1, nTicks)) {
            dStep = dCandidate;
            break;
        }
    }
    return CPlotAxis(Kind::kSeconds, 0, std::ceil(dSpan / dStep - 1e-9) * dStep, dStep);
}

CPlotAxis CPlotAxis::LogMilliseconds(double dLowMs, double dHighMs)
{
    const double dLow = std::pow(10.0, std::floor(std::log10(std::max(dLowMs, 1e-6))));
    double dHigh = std::pow(10.0, std::ceil(std::log10(std::max(dHighMs, 1e-6))));
    if (dHigh <= dLow)
        dHigh = dLow * 10;
    return CPlotAxis(Kind::kLog, dLow, dHigh, 10);
}

double CPlotAxis::Fraction(double dValue) const
{
    double dFraction = 0;
    if (m_nKind == Kind::kLog)
        dFraction = dValue > 0 ? std::log10(dValue / m_dLow) / std::log10(m_dHigh / m_dLow) : 0;
    else
        dFraction = (dValue - m_dLow) / (m_dHigh - m_dLow);
    return std::isfinite(dFraction) ? std::clamp(dFraction, 0.0, 1.0) : 0;
}

std::string CPlotAxis::Label(double dValue) const
{
    switch (m_nKind) {
    case Kind::kLog: {
        if (dValue < 1e-3 * (1 - 1e-9))
            return Fixed(dValue * 1e6, 0) + " ns";
        if (dValue < 1 * (1 - 1e-9))
            return Fixed(dValue * 1e3, 0) + " \xC2\xB5s";
        if (dValue < 1000 * (1 - 1e-9))
            return Fixed(dValue, 0) + " ms";
        return Fixed(dValue / 1000, 0) + " s";
    }
    case Kind::kSeconds: {
        const long long nSeconds = std::llround(dValue);
        char text[48];
        if (m_dHigh <= 120)
            std::snprintf(text, sizeof text, "%lld s", nSeconds);
        else if (m_dHigh < 7200)
            std::snprintf(text, sizeof text, "%lld:%02lld", nSeconds / 60, nSeconds % 60);
        else
            std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", nSeconds / 3600, nSeconds / 60 % 60, nSeconds % 60);
        return text;
    }
    case Kind::kLinear:
        break;
    }
    if (dValue == 0)
        return "0";
    // Large counts in thousands or millions, with the decimals their step needs.
    if (m_dHigh >= 1e7)
        return Fixed(dValue / 1e6, DecimalsFor(m_dStep / 1e6)) + "M";
    if (m_dHigh >= 1e4)
        return Fixed(dValue / 1e3, DecimalsFor(m_dStep / 1e3)) + "k";
    return Fixed(dValue, DecimalsFor(m_dStep));
}
