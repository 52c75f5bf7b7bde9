#include "traffic/CDelay.h"

#include <cmath>
#include <vector>

#include "text/CDuration.h"
#include "traffic/COptionText.h"
#include "traffic/CRandom.h"

namespace {

struct Shape {
    const char* pszName;
    CDelay::Kind nKind;
    size_t nArgs;
    const char* pszArgs;
};
constexpr Shape kShapes[] = {{"uniform", CDelay::Kind::kUniform, 2, "LO,HI"},
                             {"normal", CDelay::Kind::kNormal, 2, "MEAN,SD"},
                             {"exponential", CDelay::Kind::kExponential, 1, "MEAN"}};

}  // namespace

const char* CDelay::Form()
{
    return "a duration (a number and a unit: ns, us, ms, s, min or h, e.g. 250ms) or a distribution: "
           "uniform(LO,HI), normal(MEAN,SD), exponential(MEAN)";
}

CDelay CDelay::Fixed(int64_t nNs)
{
    CDelay delay;
    delay.m_nA = nNs;
    return delay;
}

CStatus CDelay::Read(std::string_view text, CDelay& delay)
{
    std::string strName;
    std::vector<std::string> args;
    if (!COptionText::SplitCall(text, strName, args)) {
        int64_t nNs = 0;
        if (!CDuration::Read(text, nNs))
            return COptionText::Refuse(text, std::string("is not ") + Form());
        delay = Fixed(nNs);
        return CStatus();
    }
    for (const Shape& shape : kShapes) {
        if (strName != shape.pszName)
            continue;
        int64_t values[2] = {0, 0};
        bool bRead = args.size() == shape.nArgs;
        for (size_t i = 0; bRead && i < args.size(); ++i)
            bRead = CDuration::Read(args[i], values[i]);
        if (!bRead)
            return COptionText::Refuse(text, std::string("is not a distribution: ") + shape.pszName + " takes " +
                                                 shape.pszArgs + ", each a duration (" + CDuration::Form() + ")");
        if (shape.nKind == Kind::kUniform && values[0] > values[1])
            return COptionText::Refuse(text, "is not a distribution: uniform takes LO,HI with LO <= HI");
        CDelay read;
        read.m_nKind = shape.nKind;
        read.m_nA = values[0];
        read.m_nB = values[1];
        delay = read;
        return CStatus();
    }
    return COptionText::Refuse(text, "names no distribution (uniform, normal or exponential)");
}

CStatus CDelay::ReadWithin(std::string_view text, int64_t nMinNs, int64_t nMaxNs, CDelay& delay)
{
    CDelay read;
    const CStatus status = Read(text, read);
    if (!status.IsOk())
        return status;
    if (read.MeanNs() < nMinNs || read.MeanNs() > nMaxNs)
        return COptionText::Refuse(text, "is not from " + CDuration::Text(nMinNs) + " to " + CDuration::Text(nMaxNs) +
                                             (read.GetKind() == Kind::kFixed ? "" : " on average"));
    delay = read;
    return CStatus();
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
    // An exponential's or a normal's tail is cut where a duration ends.
    const double dMax = static_cast<double>(CDuration::kMaxNs) * 40;
    return dNs <= 0 ? 0 : dNs >= dMax ? static_cast<int64_t>(dMax) : static_cast<int64_t>(dNs);
}

std::string CDelay::Text() const
{
    switch (m_nKind) {
    case Kind::kFixed:
        break;
    case Kind::kUniform:
        return "uniform(" + CDuration::Text(m_nA) + "," + CDuration::Text(m_nB) + ")";
    case Kind::kNormal:
        return "normal(" + CDuration::Text(m_nA) + "," + CDuration::Text(m_nB) + ")";
    case Kind::kExponential:
        return "exponential(" + CDuration::Text(m_nA) + ")";
    }
    return CDuration::Text(m_nA);
}
