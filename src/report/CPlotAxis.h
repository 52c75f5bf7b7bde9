#pragma once

#include <string>
#include <vector>

// One axis of a plot: where a value lies along it, its ticks and their
// labels. Linear axes start at 0 and end at the first tick at or above the
// highest value, ticks 1, 2 or 5 times a power of ten apart; the time axis
// counts seconds since the start in steps of seconds, minutes or hours; the
// lateness axis is logarithmic, a tick at each power of ten of milliseconds.
// A plain value.
class CPlotAxis {
public:
    // Counts or milliseconds, 0 to at least dHigh, about nTicks ticks.
    static CPlotAxis Linear(double dHigh, int nTicks);
    // Seconds since the start, 0 to at least dSeconds.
    static CPlotAxis Seconds(double dSeconds, int nTicks);
    // Milliseconds, from the power of ten at or below dLowMs to the one at or
    // above dHighMs, logarithmic.
    static CPlotAxis LogMilliseconds(double dLowMs, double dHighMs);

    // 0 at the axis's start, 1 at its end; values outside are clamped.
    double Fraction(double dValue) const;
    double Low() const { return m_dLow; }
    double High() const { return m_dHigh; }
    const std::vector<double>& Ticks() const { return m_ticks; }
    // "0", "2.5", "150k", "1.2M"; "30 s", "1:30", "1:00:00"; "100 µs", "1 ms", "1 s".
    std::string Label(double dValue) const;

private:
    enum class Kind { kLinear, kSeconds, kLog };

    CPlotAxis(Kind nKind, double dLow, double dHigh, double dStep);

    Kind m_nKind;
    double m_dLow;
    double m_dHigh;
    double m_dStep;
    std::vector<double> m_ticks;
};
