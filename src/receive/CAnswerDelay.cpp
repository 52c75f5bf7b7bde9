#include "receive/CAnswerDelay.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "receive/CSeededRandom.h"
#include "text/CDecimal.h"
#include "text/CTextList.h"

namespace {

struct Unit {
    const char* pszName;
    double dNs;
};
constexpr Unit kUnits[] = {{"ns", 1.0}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}};

// A number with a unit: the whole text.
bool ReadDuration(const std::string& strText, int64_t& nNs)
{
    size_t nAt = 0;
    double dValue = 0;
    if (!CDecimal::ReadFraction(strText, nAt, dValue))
        return false;
    const std::string strUnit = strText.substr(nAt);
    for (const Unit& unit : kUnits) {
        if (strUnit == unit.pszName) {
            const double dNs = dValue * unit.dNs;
            if (!(dNs <= static_cast<double>(CAnswerDelay::kMaxNs)))
                return false;
            nNs = std::llround(dNs);
            return true;
        }
    }
    return false;
}

}  // namespace

CStatus CAnswerDelay::Parse(const std::string& strText, CAnswerDelay& delay)
{
    const std::string strBad = "'" + strText + "' ";
    const std::string strDuration = "a duration with a unit ns, us, ms or s, at most an hour";
    CAnswerDelay parsed;
    parsed.m_strText = strText;
    const size_t nOpen = strText.find('(');
    if (nOpen == std::string::npos) {
        if (!ReadDuration(strText, parsed.m_nA))
            return CStatus::Invalid(strBad + "is not " + strDuration +
                                    " (20ms), nor uniform(A,B), normal(MEAN,SD) or exponential(MEAN)");
        delay = parsed;
        return CStatus();
    }
    static constexpr struct {
        const char* pszName;
        Kind nKind;
        size_t nArguments;
    } kForms[] = {{"uniform", Kind::kUniform, 2}, {"normal", Kind::kNormal, 2}, {"exponential", Kind::kExponential, 1}};
    const std::string strName = strText.substr(0, nOpen);
    for (const auto& form : kForms) {
        if (strName != form.pszName)
            continue;
        if (strText.back() != ')')
            return CStatus::Invalid(strBad + "does not end with ')'");
        const std::vector<std::string> arguments = CTextList::Split(strText.substr(nOpen + 1, strText.size() - nOpen - 2), ',');
        if (arguments.size() != form.nArguments)
            return CStatus::Invalid(strBad + "needs " + (form.nArguments == 1 ? "one duration" : "two durations") +
                                    " in its brackets");
        int64_t values[2] = {0, 0};
        for (size_t i = 0; i < arguments.size(); ++i) {
            if (!ReadDuration(arguments[i], values[i]))
                return CStatus::Invalid(strBad + "has '" + arguments[i] + "', which is not " + strDuration);
        }
        if (form.nKind == Kind::kUniform && values[0] > values[1])
            return CStatus::Invalid(strBad + "has its low end above its high end");
        parsed.m_nKind = form.nKind;
        parsed.m_nA = values[0];
        parsed.m_nB = values[1];
        delay = parsed;
        return CStatus();
    }
    return CStatus::Invalid(strBad + "names no distribution (uniform(A,B), normal(MEAN,SD), exponential(MEAN))");
}

int64_t CAnswerDelay::Draw(CSeededRandom& random) const
{
    constexpr double kTwoPi = 6.283185307179586;
    const double dA = static_cast<double>(m_nA);
    const double dB = static_cast<double>(m_nB);
    double dNs = dA;
    switch (m_nKind) {
    case Kind::kFixed:
        return m_nA;
    case Kind::kUniform:
        dNs = dA + (dB - dA) * random.Uniform();
        break;
    case Kind::kNormal: {
        // Box-Muller; 1 - u is in (0, 1], so its logarithm is finite.
        const double dRadius = std::sqrt(-2.0 * std::log(1.0 - random.Uniform()));
        dNs = dA + dB * dRadius * std::cos(kTwoPi * random.Uniform());
        break;
    }
    case Kind::kExponential:
        dNs = -dA * std::log(1.0 - random.Uniform());
        break;
    }
    return std::llround(std::clamp(dNs, 0.0, static_cast<double>(kMaxNs)));
}
