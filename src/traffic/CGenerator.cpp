#include "traffic/CGenerator.h"

#include <algorithm>
#include <cmath>

#include "packet/CJsonText.h"
#include "text/CDuration.h"
#include "traffic/COptionText.h"

namespace {

constexpr double kTwoPi = 6.283185307179586476925;
// The packet index of draws that belong to the device, not to a packet.
constexpr uint64_t kDevicePacket = UINT64_MAX;

struct Form {
    const char* pszName;
    CGenerator::Kind nKind;
    const char* pszArgs;
};
constexpr Form kForms[] = {
    {"uniform", CGenerator::Kind::kUniform, "LO,HI"},
    {"normal", CGenerator::Kind::kNormal, "MEAN,SD"},
    {"walk", CGenerator::Kind::kWalk, "LO,HI,STEP"},
    {"sine", CGenerator::Kind::kSine, "LO,HI,PERIOD[,NOISE]"},
    {"pick", CGenerator::Kind::kPick, "V1,V2,..."},
    {"cycle", CGenerator::Kind::kCycle, "V1,V2,..."},
    {"device", CGenerator::Kind::kDevice, "LO,HI"},
};

double Clamp(double d, double dLow, double dHigh)
{
    return d < dLow ? dLow : d > dHigh ? dHigh : d;
}

// A number of at most 1e15 in size; dValue is left alone otherwise.
bool ReadBounded(std::string_view text, double& dValue)
{
    double dRead = 0;
    if (!COptionText::ReadNumber(text, dRead) || std::fabs(dRead) > COptionText::kMaxMagnitude)
        return false;
    dValue = dRead;
    return true;
}

}  // namespace

CStatus CGenerator::Read(std::string_view text, CGenerator& generator)
{
    std::string strName;
    std::vector<std::string> args;
    const Form* pForm = nullptr;
    if (COptionText::SplitCall(text, strName, args)) {
        for (const Form& form : kForms) {
            if (strName == form.pszName)
                pForm = &form;
        }
    }
    if (!pForm)
        return COptionText::Refuse(text, "is not a generator: uniform(LO,HI), normal(MEAN,SD), walk(LO,HI,STEP), "
                                         "sine(LO,HI,PERIOD[,NOISE]), pick(V1,V2,...), cycle(V1,V2,...) or "
                                         "device(LO,HI)");
    CGenerator result;
    result.m_nKind = pForm->nKind;
    result.m_strText = std::string(text);
    const std::string strTakes = std::string("is not a generator: ") + pForm->pszName + " takes " + pForm->pszArgs;
    if (pForm->nKind == Kind::kPick || pForm->nKind == Kind::kCycle) {
        for (const std::string& strArg : args) {
            if (strArg.empty())
                return COptionText::Refuse(text, strTakes + ", none of them empty");
            Choice choice{std::string(), 0};
            CJsonText::AppendString(choice.strJson, strArg);
            choice.strJson = choice.strJson.substr(1, choice.strJson.size() - 2);
            if (!ReadBounded(strArg, choice.dNumber))
                result.m_bNumeric = false;
            result.m_choices.push_back(std::move(choice));
        }
        generator = std::move(result);
        return CStatus();
    }
    const bool bSine = pForm->nKind == Kind::kSine;
    const size_t nArgs = pForm->nKind == Kind::kWalk || bSine ? 3 : 2;
    if (args.size() != nArgs && !(bSine && args.size() == 4))
        return COptionText::Refuse(text, strTakes);
    double values[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < args.size(); ++i) {
        int64_t nPeriodNs = 0;
        if (bSine && i == 2) {
            if (!CDuration::Read(args[i], nPeriodNs) || nPeriodNs == 0)
                return COptionText::Refuse(text,
                                           strTakes + ", PERIOD a duration above 0 (" + CDuration::Form() + ")");
            values[i] = static_cast<double>(nPeriodNs) / 1e9;
        } else if (!ReadBounded(args[i], values[i])) {
            return COptionText::Refuse(text, strTakes + ", each a number of at most 1e15 in size");
        }
    }
    result.m_dA = values[0];
    result.m_dB = values[1];
    result.m_dC = values[2];
    result.m_dNoise = values[3];
    const bool bRange = pForm->nKind != Kind::kNormal;
    if (bRange && result.m_dA > result.m_dB)
        return COptionText::Refuse(text, strTakes + " with LO <= HI");
    if ((pForm->nKind == Kind::kNormal && result.m_dB < 0) || (pForm->nKind == Kind::kWalk && result.m_dC < 0) ||
        result.m_dNoise < 0) {
        const char* pszWhich = pForm->nKind == Kind::kNormal ? " with SD" : bSine ? " with NOISE" : " with STEP";
        return COptionText::Refuse(text, strTakes + pszWhich + " at least 0");
    }
    generator = std::move(result);
    return CStatus();
}

bool CGenerator::Bounded(double& dLow, double& dHigh) const
{
    if (m_nKind == Kind::kNormal || !m_choices.empty())
        return false;
    dLow = m_dA;
    dHigh = m_dB;
    return true;
}

CMessageTemplate::Generated CGenerator::Value(const CRandom::Key& key, uint32_t nRule, double dRunSeconds,
                                              double* pState) const
{
    const uint32_t nPurpose = CRandom::kVary + CRandom::kDrawsPerRule * nRule;
    const auto deviceUnit = [&](uint32_t nDraw) {
        return CRandom::Unit(CRandom::Bits(key.nSeed, key.nDevice, kDevicePacket, nPurpose + nDraw));
    };
    CMessageTemplate::Generated value;
    switch (m_nKind) {
    case Kind::kUniform:
        value.dNumber = m_dA + key.Unit(nPurpose) * (m_dB - m_dA);
        break;
    case Kind::kNormal:
        value.dNumber = Clamp(m_dA + m_dB * CRandom::Normal(key.Bits(nPurpose), key.Bits(nPurpose + 1)),
                              -COptionText::kMaxMagnitude, COptionText::kMaxMagnitude);
        break;
    case Kind::kWalk: {
        double& dPosition = *pState;
        if (std::isnan(dPosition)) {
            dPosition = m_dA + deviceUnit(0) * (m_dB - m_dA);
        } else {
            dPosition += (2 * key.Unit(nPurpose) - 1) * m_dC;
            // Reflected at the bounds, as a walk between walls.
            if (dPosition > m_dB)
                dPosition = 2 * m_dB - dPosition;
            if (dPosition < m_dA)
                dPosition = 2 * m_dA - dPosition;
            dPosition = Clamp(dPosition, m_dA, m_dB);
        }
        value.dNumber = dPosition;
        break;
    }
    case Kind::kSine: {
        const double dMid = (m_dA + m_dB) / 2;
        const double dTurns = std::fmod(dRunSeconds / m_dC, 1.0) + deviceUnit(0);
        double d = dMid + (m_dB - m_dA) / 2 * std::sin(kTwoPi * dTurns);
        if (m_dNoise > 0)
            d += m_dNoise * CRandom::Normal(key.Bits(nPurpose), key.Bits(nPurpose + 1));
        value.dNumber = Clamp(d, m_dA, m_dB);
        break;
    }
    case Kind::kPick:
    case Kind::kCycle: {
        const size_t nCount = m_choices.size();
        const size_t nPicked = static_cast<size_t>(key.Unit(nPurpose) * static_cast<double>(nCount));
        const size_t nIndex =
            m_nKind == Kind::kCycle ? static_cast<size_t>(key.nPacket % nCount) : std::min(nCount - 1, nPicked);
        value.dNumber = m_choices[nIndex].dNumber;
        value.text = m_choices[nIndex].strJson;
        break;
    }
    case Kind::kDevice:
        value.dNumber = m_dA + deviceUnit(0) * (m_dB - m_dA);
        break;
    }
    return value;
}
