#include "text/CDuration.h"

#include <string>

namespace {

struct Unit {
    const char* pszName;
    double dNs;
};

constexpr Unit kUnits[] = {{"ns", 1.0}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

bool CDuration::Read(std::string_view text, int64_t nMinNs, int64_t nMaxNs, int64_t& nNs)
{
    size_t nAt = 0;
    while (nAt < text.size() && IsDigit(text[nAt]))
        ++nAt;
    if (nAt == 0 || nAt > 15)
        return false;
    if (nAt < text.size() && text[nAt] == '.') {
        const size_t nFraction = ++nAt;
        while (nAt < text.size() && IsDigit(text[nAt]) && nAt - nFraction < 9)
            ++nAt;
        if (nAt == nFraction)
            return false;
    }
    const std::string_view unit = text.substr(nAt);
    for (const Unit& known : kUnits) {
        if (unit != known.pszName)
            continue;
        const double dNs = std::stod(std::string(text.substr(0, nAt))) * known.dNs + 0.5;
        if (dNs < static_cast<double>(nMinNs) || dNs > static_cast<double>(nMaxNs) + 0.5)
            return false;
        nNs = static_cast<int64_t>(dNs);
        return true;
    }
    return false;
}
