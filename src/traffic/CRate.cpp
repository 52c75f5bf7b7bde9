#include "traffic/CRate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "text/CDecimal.h"
#include "traffic/COptionText.h"

CStatus CRate::Read(std::string_view text, double dMax, double& dPerSecond)
{
    std::string_view number = text;
    if (number.size() > 2 && number.substr(number.size() - 2) == "/s")
        number.remove_suffix(2);
    double dScale = 1;
    if (!number.empty() && (number.back() == 'k' || number.back() == 'M')) {
        dScale = number.back() == 'k' ? 1e3 : 1e6;
        number.remove_suffix(1);
    }
    size_t nAt = 0;
    double dValue = 0;
    char limit[32];
    std::snprintf(limit, sizeof limit, "%.0f", dMax);
    if (!CDecimal::ReadFraction(number, nAt, dValue) || nAt != number.size() || !(dValue * dScale > 0) ||
        dValue * dScale > dMax)
        return COptionText::Refuse(text, std::string("is not a rate above 0 and at most ") + limit +
                                             " a second: a number, k or M for thousands or millions, and /s, e.g. "
                                             "20k/s");
    dPerSecond = dValue * dScale;
    return CStatus();
}

namespace {

bool IsWhole(double d)
{
    return d == std::round(d) && d < 1e15;
}

}  // namespace

std::string CRate::Text(double dPerSecond)
{
    // Six significant digits as Read takes them back: never an exponent.
    const int nDecimals =
        IsWhole(dPerSecond) || !(dPerSecond > 0) ? 0 : std::clamp(5 - static_cast<int>(std::floor(std::log10(dPerSecond))), 0, 17);
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", nDecimals, dPerSecond);
    std::string strText = text;
    if (nDecimals > 0) {
        strText.erase(strText.find_last_not_of('0') + 1);
        if (strText.back() == '.')
            strText.pop_back();
    }
    return strText + "/s";
}
