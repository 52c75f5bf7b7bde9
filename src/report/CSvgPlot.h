#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Plots as inline SVG for an HTML page: nothing to fetch and no script. The
// plot scales with the page's width. Texts given are escaped here. Any
// thread.
class CSvgPlot {
public:
    // One line: a value per second, drawn as one polyline with a point per
    // value (and a dot when there is only one).
    struct Line {
        std::string strName;
        std::string strColor;
        std::string strDash;  // stroke-dasharray, empty for a solid line
        std::vector<double> values;
    };
    // Lines over time, sharing a time axis (seconds since the first value)
    // and a linear value axis titled strUnit; a legend when there is more
    // than one line. Without values, the frame says so.
    static std::string Lines(const std::string& strLabel, const std::string& strUnit, const std::vector<Line>& lines);
    // Lines against another quantity (a capacity search's rates): value i
    // of each line at xs[i], on a linear axis titled strXTitle.
    static std::string Against(const std::string& strLabel, const std::string& strXTitle, const std::vector<double>& xs,
                               const std::string& strUnit, const std::vector<Line>& lines);

    struct Bar {
        double dFromMs = 0;
        double dToMs = 0;
        uint64_t nCount = 0;
    };
    // Counts of strWhat (datagrams, replies) by a duration (strAxis:
    // lateness, round trip) on a logarithmic axis from 1 µs up, ten bars to
    // a power of ten, each range counted in the bar that holds its middle
    // (the first bar also holds everything below 1 µs).
    static std::string Histogram(const std::string& strLabel, const std::string& strAxis, const std::string& strWhat,
                                 const std::vector<Bar>& bars);
};
