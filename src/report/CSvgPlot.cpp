#include "report/CSvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/CHtmlText.h"
#include "report/CPlotAxis.h"

namespace {

// The drawing's own units; the page scales it to its width.
constexpr double kWidth = 960;
constexpr double kHeight = 300;
constexpr double kLeft = 70;
constexpr double kRight = 940;
constexpr double kTop = 34;
constexpr double kBottom = 250;
constexpr int kValueTicks = 5;
constexpr int kTimeTicks = 10;
constexpr int kBinsPerDecade = 10;
constexpr double kLowestMs = 1e-3;

std::string Coordinate(double d)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", d);
    return text;
}

double X(const CPlotAxis& axis, double dValue)
{
    return kLeft + axis.Fraction(dValue) * (kRight - kLeft);
}

double Y(const CPlotAxis& axis, double dValue)
{
    return kBottom - axis.Fraction(dValue) * (kBottom - kTop);
}

std::string Open(const std::string& strLabel)
{
    return "<svg class=\"plot\" viewBox=\"0 0 " + Coordinate(kWidth) + " " + Coordinate(kHeight) +
           "\" role=\"img\" aria-label=\"" + CHtmlText::Escape(strLabel) + "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
}

std::string Text(double dX, double dY, const char* pszAnchor, const std::string& strText, const char* pszClass = "tick")
{
    return "<text class=\"" + std::string(pszClass) + "\" x=\"" + Coordinate(dX) + "\" y=\"" + Coordinate(dY) +
           "\" text-anchor=\"" + pszAnchor + "\">" + CHtmlText::Escape(strText) + "</text>\n";
}

// Grid lines and labels at the value axis's ticks, the frame, the time or
// lateness axis's ticks and labels, and the two axis titles.
std::string Axes(const CPlotAxis& x, const CPlotAxis& y, const std::string& strXTitle, const std::string& strYTitle)
{
    std::string out;
    for (const double dTick : y.Ticks()) {
        const std::string strY = Coordinate(Y(y, dTick));
        out += "<line class=\"grid\" x1=\"" + Coordinate(kLeft) + "\" y1=\"" + strY + "\" x2=\"" + Coordinate(kRight) +
               "\" y2=\"" + strY + "\"/>\n";
        out += Text(kLeft - 6, Y(y, dTick) + 4, "end", y.Label(dTick));
    }
    for (const double dTick : x.Ticks()) {
        const std::string strX = Coordinate(X(x, dTick));
        out += "<line class=\"axis\" x1=\"" + strX + "\" y1=\"" + Coordinate(kBottom) + "\" x2=\"" + strX + "\" y2=\"" +
               Coordinate(kBottom + 5) + "\"/>\n";
        out += Text(X(x, dTick), kBottom + 20, "middle", x.Label(dTick));
    }
    out += "<rect class=\"frame\" x=\"" + Coordinate(kLeft) + "\" y=\"" + Coordinate(kTop) + "\" width=\"" +
           Coordinate(kRight - kLeft) + "\" height=\"" + Coordinate(kBottom - kTop) + "\"/>\n";
    out += Text((kLeft + kRight) / 2, kHeight - 10, "middle", strXTitle, "title");
    out += Text(kLeft, kTop - 12, "start", strYTitle, "title");
    return out;
}

std::string NoData(const std::string& strText)
{
    return Text((kLeft + kRight) / 2, (kTop + kBottom) / 2, "middle", strText, "empty");
}

std::string Legend(const std::vector<CSvgPlot::Line>& lines)
{
    std::string out;
    double dX = kRight;
    // Right-aligned: laid out from the last entry leftwards.
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        dX -= 8.0 * static_cast<double>(line->strName.size()) + 44;
        const std::string strY = Coordinate(kTop - 16);
        out += "<line class=\"key\" x1=\"" + Coordinate(dX) + "\" y1=\"" + strY + "\" x2=\"" + Coordinate(dX + 24) +
               "\" y2=\"" + strY + "\" stroke=\"" + CHtmlText::Escape(line->strColor) + "\"" +
               (line->strDash.empty() ? "" : " stroke-dasharray=\"" + CHtmlText::Escape(line->strDash) + "\"") + "/>\n";
        out += Text(dX + 30, kTop - 12, "start", line->strName, "legend");
    }
    return "<g class=\"legend\">\n" + out + "</g>\n";
}

}  // namespace

namespace {

// Lines against an axis: point i of a line at xs[i] (or at i, without xs).
std::string Draw(const std::string& strLabel, const CPlotAxis& x, const std::string& strXTitle,
                 const std::string& strUnit, const std::vector<CSvgPlot::Line>& lines, const std::vector<double>* pXs,
                 const char* pszEmpty)
{
    size_t nPoints = 0;
    double dHigh = 0;
    for (const CSvgPlot::Line& line : lines) {
        nPoints = std::max(nPoints, line.values.size());
        for (const double d : line.values) {
            if (std::isfinite(d))
                dHigh = std::max(dHigh, d);
        }
    }
    const CPlotAxis y = CPlotAxis::Linear(dHigh, kValueTicks);
    const auto xOf = [pXs](size_t i) { return pXs && i < pXs->size() ? (*pXs)[i] : static_cast<double>(i); };
    std::string out = Open(strLabel);
    out += Axes(x, y, strXTitle, strUnit);
    if (nPoints == 0)
        out += NoData(pszEmpty);
    if (lines.size() > 1)
        out += Legend(lines);
    for (const CSvgPlot::Line& line : lines) {
        if (line.values.empty())
            continue;
        const std::string strStroke = " stroke=\"" + CHtmlText::Escape(line.strColor) + "\"" +
                                      (line.strDash.empty() ? "" : " stroke-dasharray=\"" + CHtmlText::Escape(line.strDash) + "\"");
        out += "<polyline class=\"series\" data-series=\"" + CHtmlText::Escape(line.strName) + "\"" + strStroke +
               " points=\"";
        std::string strPoints;
        strPoints.reserve(line.values.size() * 14);
        for (size_t i = 0; i < line.values.size(); ++i) {
            const double dValue = std::isfinite(line.values[i]) ? line.values[i] : 0;
            if (i > 0)
                strPoints.push_back(' ');
            strPoints += Coordinate(X(x, xOf(i))) + "," + Coordinate(Y(y, dValue));
        }
        out += strPoints + "\"/>\n";
        // A single point draws no line; it gets a dot to be seen.
        if (line.values.size() == 1)
            out += "<circle class=\"dot\" cx=\"" + Coordinate(X(x, xOf(0))) + "\" cy=\"" +
                   Coordinate(Y(y, std::isfinite(line.values[0]) ? line.values[0] : 0)) + "\" r=\"4\" fill=\"" +
                   CHtmlText::Escape(line.strColor) + "\"/>\n";
    }
    return out + "</svg>\n";
}

}  // namespace

std::string CSvgPlot::Lines(const std::string& strLabel, const std::string& strUnit, const std::vector<Line>& lines)
{
    size_t nPoints = 0;
    for (const Line& line : lines)
        nPoints = std::max(nPoints, line.values.size());
    const CPlotAxis x = CPlotAxis::Seconds(nPoints > 1 ? static_cast<double>(nPoints - 1) : 1, kTimeTicks);
    return Draw(strLabel, x, "time since the start", strUnit, lines, nullptr, "no seconds recorded");
}

std::string CSvgPlot::Against(const std::string& strLabel, const std::string& strXTitle, const std::vector<double>& xs,
                              const std::string& strUnit, const std::vector<Line>& lines)
{
    const double dHigh = xs.empty() ? 1 : *std::max_element(xs.begin(), xs.end());
    return Draw(strLabel, CPlotAxis::Linear(dHigh, kValueTicks), strXTitle, strUnit, lines, &xs, "no points");
}

std::string CSvgPlot::Histogram(const std::string& strLabel, const std::string& strAxis, const std::string& strWhat,
                                const std::vector<Bar>& bars)
{
    double dHighMs = kLowestMs * 10;
    for (const Bar& bar : bars) {
        if (bar.nCount > 0)
            dHighMs = std::max(dHighMs, bar.dToMs);
    }
    const CPlotAxis x = CPlotAxis::LogMilliseconds(kLowestMs, dHighMs);
    const int nBins = static_cast<int>(std::llround(std::log10(x.High() / x.Low()))) * kBinsPerDecade;
    std::vector<uint64_t> counts(static_cast<size_t>(std::max(nBins, 1)), 0);
    uint64_t nHighest = 0;
    uint64_t nTotal = 0;
    for (const Bar& bar : bars) {
        const double dMiddle = (bar.dFromMs + bar.dToMs) / 2;
        const double dBin = dMiddle > x.Low() ? std::log10(dMiddle / x.Low()) * kBinsPerDecade : 0;
        const size_t nBin = std::min(counts.size() - 1, static_cast<size_t>(std::max(0.0, std::floor(dBin))));
        counts[nBin] += bar.nCount;
        nHighest = std::max(nHighest, counts[nBin]);
        nTotal += bar.nCount;
    }
    const CPlotAxis y = CPlotAxis::Linear(static_cast<double>(nHighest), kValueTicks);
    std::string out = Open(strLabel);
    out += Axes(x, y, strAxis + " (logarithmic)", strWhat);
    if (nTotal == 0)
        out += NoData("no " + strWhat);
    for (size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] == 0)
            continue;
        const double dFrom = x.Low() * std::pow(10.0, static_cast<double>(i) / kBinsPerDecade);
        const double dTo = x.Low() * std::pow(10.0, static_cast<double>(i + 1) / kBinsPerDecade);
        const double dLeft = X(x, dFrom) + 0.5;
        const double dTop = Y(y, static_cast<double>(counts[i]));
        char title[128];
        if (i == 0)
            std::snprintf(title, sizeof title, "below %.3g ms: %llu %s", dTo, static_cast<unsigned long long>(counts[i]),
                          strWhat.c_str());
        else
            std::snprintf(title, sizeof title, "%.3g to %.3g ms: %llu %s", dFrom, dTo,
                          static_cast<unsigned long long>(counts[i]), strWhat.c_str());
        out += "<rect class=\"bar\" x=\"" + Coordinate(dLeft) + "\" y=\"" + Coordinate(dTop) + "\" width=\"" +
               Coordinate(std::max(1.0, X(x, dTo) - dLeft - 0.5)) + "\" height=\"" + Coordinate(kBottom - dTop) +
               "\"><title>" + CHtmlText::Escape(title) + "</title></rect>\n";
    }
    return out + "</svg>\n";
}
