#include "traffic/CLinkFaults.h"

#include <vector>

#include "traffic/COptionText.h"

namespace {

const char kOff[] = "off";
const char kProbability[] = "a probability (0 to 1, or a percentage such as 5%)";

// "P[,KEY=DELAY]": the probability and, when given, the delay of that key.
bool ReadWithDelay(std::string_view text, const char* pszKey, double& dProbability, bool& bDelay, CDelay& delay,
                   std::string& strWrong)
{
    const std::string strForm = std::string("is not P[,") + pszKey + "=DELAY] with P " + kProbability +
                                " and DELAY a duration or a distribution";
    const std::vector<std::string> items = COptionText::SplitList(text);
    std::string strKey;
    std::string strValue;
    if (items.size() > 2 || !COptionText::ReadProbability(items[0], dProbability) ||
        (items.size() == 2 && (!COptionText::SplitKeyValue(items[1], strKey, strValue) || strKey != pszKey))) {
        strWrong = strForm;
        return false;
    }
    bDelay = items.size() == 2;
    std::string strDelayWrong;
    if (bDelay && !CDelay::Read(strValue, delay, strDelayWrong)) {
        strWrong = "has " + std::string(pszKey) + "=" + COptionText::Quoted(strValue) + ", which " + strDelayWrong;
        return false;
    }
    return true;
}

struct CorruptionEntry {
    const char* pszName;
    CLinkFaults::Corruption nKind;
};
constexpr CorruptionEntry kCorruptions[] = {
    {"truncate", CLinkFaults::kTruncate}, {"flip", CLinkFaults::kFlip}, {"break-json", CLinkFaults::kBreakJson}};

}  // namespace

bool CLinkFaults::ReadLoss(std::string_view text, Loss& loss, std::string& strWrong)
{
    if (text == kOff) {
        loss = Loss();
        return true;
    }
    const std::vector<std::string> items = COptionText::SplitList(text);
    Loss read;
    std::string strKey;
    std::string strValue;
    if (items.size() > 2 || !COptionText::ReadProbability(items[0], read.dProbability) ||
        (items.size() == 2 && (!COptionText::SplitKeyValue(items[1], strKey, strValue) || strKey != "burst" ||
                               !COptionText::ReadNumber(strValue, read.dBurst) || read.dBurst < 1 ||
                               read.dBurst > 1e9))) {
        strWrong = std::string("is not P[,burst=N] with P ") + kProbability +
                   " and N the mean length of a run of losses, at least 1";
        return false;
    }
    // In runs of N on average, a loss is followed by a kept datagram at least
    // once every N + 1.
    if (read.dBurst > 1 && read.dProbability > read.dBurst / (read.dBurst + 1)) {
        strWrong = "cannot be: with runs of " + strValue + " on average, at most N/(N+1) of the datagrams are lost";
        return false;
    }
    loss = read;
    return true;
}

bool CLinkFaults::ReadDuplicate(std::string_view text, Duplicate& duplicate, std::string& strWrong)
{
    if (text == kOff) {
        duplicate = Duplicate();
        return true;
    }
    Duplicate read;
    bool bDelay = false;
    if (!ReadWithDelay(text, "delay", read.dProbability, bDelay, read.delay, strWrong))
        return false;
    duplicate = read;
    return true;
}

bool CLinkFaults::ReadReorder(std::string_view text, Reorder& reorder, std::string& strWrong)
{
    if (text == kOff) {
        reorder = Reorder();
        return true;
    }
    Reorder read;
    if (!ReadWithDelay(text, "by", read.dProbability, read.bBy, read.by, strWrong))
        return false;
    reorder = read;
    return true;
}

bool CLinkFaults::ReadJitter(std::string_view text, Jitter& jitter, std::string& strWrong)
{
    if (text == kOff) {
        jitter = Jitter();
        return true;
    }
    Jitter read;
    if (!CDelay::Read(text, read.delay, strWrong))
        return false;
    read.bOn = !read.delay.IsZero();
    jitter = read;
    return true;
}

bool CLinkFaults::ReadCorrupt(std::string_view text, Corrupt& corrupt, std::string& strWrong)
{
    if (text == kOff) {
        corrupt = Corrupt();
        return true;
    }
    const std::vector<std::string> items = COptionText::SplitList(text);
    Corrupt read;
    bool bRead = COptionText::ReadProbability(items[0], read.dProbability);
    if (items.size() > 1)
        read.nKinds = 0;
    for (size_t i = 1; bRead && i < items.size(); ++i) {
        bRead = false;
        for (const CorruptionEntry& name : kCorruptions) {
            if (items[i] == name.pszName) {
                read.nKinds = static_cast<uint8_t>(read.nKinds | name.nKind);
                bRead = true;
            }
        }
    }
    if (!bRead) {
        strWrong = std::string("is not P[,KIND...] with P ") + kProbability + " and KIND truncate, flip or break-json";
        return false;
    }
    corrupt = read;
    return true;
}

const char* CLinkFaults::CorruptionName(Corruption nKind)
{
    for (const CorruptionEntry& name : kCorruptions) {
        if (name.nKind == nKind)
            return name.pszName;
    }
    return "none";
}

bool CLinkFaults::Any() const
{
    return loss.dProbability > 0 || duplicate.dProbability > 0 || reorder.dProbability > 0 || jitter.bOn ||
           corrupt.dProbability > 0;
}

CLinkFaults::Decision CLinkFaults::Decide(const CRandom::Key& key, bool& bInBurst, int64_t nDefaultByNs) const
{
    Decision decision;
    if (loss.dProbability <= 0) {
        bInBurst = false;
    } else if (loss.dBurst <= 1) {
        decision.bDrop = key.Unit(CRandom::kLoss) < loss.dProbability;
    } else {
        // Two states: a kept datagram starts a run of losses with the
        // chance q, a run goes on with the chance 1 - 1/N; in the long run
        // q / (q + 1/N) = P of the datagrams are lost.
        const double dStart = loss.dProbability / (loss.dBurst * (1 - loss.dProbability));
        const double u = key.Unit(CRandom::kLossBurst);
        bInBurst = bInBurst ? u >= 1 / loss.dBurst : u < dStart;
        decision.bDrop = bInBurst;
    }
    if (decision.bDrop)
        return decision;
    if (corrupt.dProbability > 0 && key.Unit(CRandom::kCorrupt) < corrupt.dProbability) {
        Corruption kinds[3];
        int nKinds = 0;
        for (const CorruptionEntry& name : kCorruptions) {
            if (corrupt.nKinds & name.nKind)
                kinds[nKinds++] = name.nKind;
        }
        decision.nCorrupt = kinds[key.Bits(CRandom::kCorruptKind) % static_cast<uint64_t>(nKinds)];
        decision.nCorruptBits = key.Bits(CRandom::kCorruptAt);
    }
    if (jitter.bOn) {
        decision.nDelayNs =
            jitter.delay.Draw(key.Bits(CRandom::kJitter), key.Bits(CRandom::kJitter + CRandom::kSecondDraw));
        decision.bJittered = decision.nDelayNs > 0;
    }
    if (reorder.dProbability > 0 && key.Unit(CRandom::kReorder) < reorder.dProbability) {
        decision.bReordered = true;
        decision.nDelayNs += reorder.bBy ? reorder.by.Draw(key.Bits(CRandom::kReorderBy),
                                                           key.Bits(CRandom::kReorderBy + CRandom::kSecondDraw))
                                         : nDefaultByNs;
    }
    if (duplicate.dProbability > 0 && key.Unit(CRandom::kDuplicate) < duplicate.dProbability) {
        decision.bDuplicate = true;
        decision.nCopyDelayNs = duplicate.delay.Draw(key.Bits(CRandom::kDuplicateDelay),
                                                     key.Bits(CRandom::kDuplicateDelay + CRandom::kSecondDraw));
    }
    return decision;
}
