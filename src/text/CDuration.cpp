#include "text/CDuration.h"

#include <cmath>

#include "text/CDecimal.h"

namespace {

struct Unit {
    const char* pszName;
    int64_t nNs;
};

// Longest name first, so that "min" is not read as "in" after "m"; the
// text of a duration takes the largest unit that divides it.
constexpr Unit kUnits[] = {{"min", 60 * CDuration::kNsPerSecond},
                           {"ns", 1},
                           {"us", 1000},
                           {"ms", 1000000},
                           {"s", CDuration::kNsPerSecond},
                           {"h", 3600 * CDuration::kNsPerSecond}};
// The units from the largest, for the text of a duration.
constexpr Unit kDescending[] = {kUnits[5], kUnits[0], kUnits[4], kUnits[3], kUnits[2], kUnits[1]};

// The whole of text is a decimal number (digits with an optional fraction).
bool ReadNumber(std::string_view text, double& dValue)
{
    size_t nAt = 0;
    return CDecimal::ReadFraction(text, nAt, dValue) && nAt == text.size();
}

bool InRange(double dNs, int64_t nMinNs, int64_t nMaxNs, int64_t& nNs)
{
    const double dRounded = std::round(dNs);
    if (!(dRounded >= static_cast<double>(nMinNs) && dRounded <= static_cast<double>(nMaxNs)))
        return false;
    nNs = static_cast<int64_t>(dRounded);
    return true;
}

}  // namespace

bool CDuration::Read(std::string_view text, int64_t& nNs)
{
    return Read(text, 0, kMaxNs, nNs);
}

bool CDuration::Read(std::string_view text, int64_t nMinNs, int64_t nMaxNs, int64_t& nNs)
{
    for (const Unit& unit : kUnits) {
        const std::string_view name(unit.pszName);
        if (text.size() <= name.size() || text.substr(text.size() - name.size()) != name)
            continue;
        double dValue = 0;
        if (!ReadNumber(text.substr(0, text.size() - name.size()), dValue))
            return false;
        return InRange(dValue * static_cast<double>(unit.nNs), nMinNs, nMaxNs, nNs);
    }
    return false;
}

bool CDuration::ReadSeconds(std::string_view text, int64_t nMinNs, int64_t nMaxNs, int64_t& nNs)
{
    double dSeconds = 0;
    if (ReadNumber(text, dSeconds))
        return InRange(dSeconds * static_cast<double>(kNsPerSecond), nMinNs, nMaxNs, nNs);
    return Read(text, nMinNs, nMaxNs, nNs);
}

const char* CDuration::Form()
{
    return "a number and a unit: ns, us, ms, s, min or h, e.g. 250ms";
}

std::string CDuration::Text(int64_t nNs)
{
    if (nNs == 0)
        return "0ms";
    for (const Unit& unit : kDescending) {
        if (nNs % unit.nNs == 0)
            return std::to_string(nNs / unit.nNs) + unit.pszName;
    }
    return std::to_string(nNs) + "ns";
}
