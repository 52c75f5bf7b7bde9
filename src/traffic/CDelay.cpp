#include "traffic/CDelay.h"

#include <cmath>
#include <vector>

#include "traffic/CRandom.h"
#include "traffic/COptionText.h"

namespace {

struct Unit {
    const char* pszName;
    double dNs;
};
// Longer names first, so that "ms" is not read as "s" after "m".
constexpr Unit kUnits[] = {{"min", 60e9}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}, {"h", 3600e9}};

}  // namespace

const char* CDelay::DurationForm()
{
    return "a number and a unit: us, ms, s, min or h, e.g. 250ms";
}

bool CDelay::ReadDuration(std::string_view text, int64_t& nNs)
{
    for (const Unit& unit : kUnits) {
        const std::string_view name(unit.pszName);
        if (text.size() <= name.size() || text.substr(text.size() - name.size()) != name)
            continue;
        double dValue = 0;
        if (!COptionText::ReadNumber(text.substr(0, text.size() - name.size()), dValue))
            return false;
        const double dNs = std::round(dValue * unit.dNs);
        if (!(dNs >= 0 && dNs <= static_cast<double>(kMaxNs)))
            return false;
        nNs = static_cast<int64_t>(dNs);
        return true;
    }
    return false;
}

CDelay CDelay::Fixed(int64_t nNs)
{
    CDelay delay;
    delay.m_nA = nNs;
    return delay;
}

bool CDelay::Read(std::string_view text, CDelay& delay, std::string& strWrong)
{
    std::string strName;
    std::vector<std::string> args;
    if (!COptionText::SplitCall(text, strName, args)) {
        if (!ReadDuration(text, delay.m_nA)) {
            strWrong = std::string("is not a duration (") + DurationForm() +
                       ") or a distribution: uniform(LO,HI), normal(MEAN,SD), exponential(MEAN)";
            return false;
        }
        delay.m_nKind = Kind::kFixed;
        delay.m_nB = 0;
        return true;
    }
    struct Form {
        const char* pszName;
        Kind nKind;
        size_t nArgs;
        const char* pszArgs;
    };
    static const Form kForms[] = {{"uniform", Kind::kUniform, 2, "LO,HI"},
                                  {"normal", Kind::kNormal, 2, "MEAN,SD"},
                                  {"exponential", Kind::kExponential, 1, "MEAN"}};
    for (const Form& form : kForms) {
        if (strName != form.pszName)
            continue;
        int64_t values[2] = {0, 0};
        bool bRead = args.size() == form.nArgs;
        for (size_t i = 0; bRead && i < args.size(); ++i)
            bRead = ReadDuration(args[i], values[i]);
        if (!bRead) {
            strWrong = std::string("is not a distribution: ") + form.pszName + " takes " + form.pszArgs +
                       ", each a duration (" + DurationForm() + ")";
            return false;
        }
        if (form.nKind == Kind::kUniform && values[0] > values[1]) {
            strWrong = "is not a distribution: uniform takes LO,HI with LO <= HI";
            return false;
        }
        delay.m_nKind = form.nKind;
        delay.m_nA = values[0];
        delay.m_nB = values[1];
        return true;
    }
    strWrong = "names no distribution (uniform, normal or exponential)";
    return false;
}

int64_t CDelay::MeanNs() const
{
    return m_nKind == Kind::kUniform ? m_nA + (m_nB - m_nA) / 2 : m_nA;
}

int64_t CDelay::Draw(uint64_t nBits1, uint64_t nBits2) const
{
    double dNs = 0;
    switch (m_nKind) {
    case Kind::kFixed:
        return m_nA;
    case Kind::kUniform:
        dNs = static_cast<double>(m_nA) + CRandom::Unit(nBits1) * static_cast<double>(m_nB - m_nA);
        break;
    case Kind::kNormal:
        dNs = static_cast<double>(m_nA) + CRandom::Normal(nBits1, nBits2) * static_cast<double>(m_nB);
        break;
    case Kind::kExponential:
        dNs = CRandom::Exponential(nBits1) * static_cast<double>(m_nA);
        break;
    }
    return dNs <= 0 ? 0 : dNs >= static_cast<double>(kMaxNs) * 40 ? kMaxNs * 40 : static_cast<int64_t>(dNs);
}
