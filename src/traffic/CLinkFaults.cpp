#include "traffic/CLinkFaults.h"

#include <vector>

#include "traffic/COptionText.h"

namespace {

const char kOff[] = "off";
const char kProbability[] = "a probability (0 to 1, or a percentage such as 5%)";

// "P[,KEY=DELAY]": the probability and, when given, the delay of that key.
CStatus ReadWithDelay(std::string_view text, const char* pszKey, double& dProbability, bool& bDelay, CDelay& delay)
{
    const std::vector<std::string> items = COptionText::SplitList(text);
    std::string strKey;
    std::string strValue;
    if (items.size() > 2 || !COptionText::ReadProbability(items[0], dProbability) ||
        (items.size() == 2 && (!COptionText::SplitKeyValue(items[1], strKey, strValue) || strKey != pszKey)))
        return COptionText::Refuse(text, std::string("is not P[,") + pszKey + "=DELAY] with P " + kProbability +
                                             " and DELAY a duration or a distribution");
    bDelay = items.size() == 2;
    if (!bDelay)
        return CStatus();
    const CStatus read = CDelay::Read(strValue, delay);
    if (!read.IsOk())
        return COptionText::Refuse(text, "has " + std::string(pszKey) + "=" + COptionText::Quoted(strValue) +
                                             ", which " + COptionText::Reason(read, strValue));
    return CStatus();
}

struct CorruptionEntry {
    const char* pszName;
    CLinkFaults::Corruption nKind;
};
constexpr CorruptionEntry kCorruptions[] = {
    {"truncate", CLinkFaults::kTruncate}, {"flip", CLinkFaults::kFlip}, {"break-json", CLinkFaults::kBreakJson}};

}  // namespace

CStatus CLinkFaults::ReadLoss(std::string_view text, Loss& loss)
{
    if (text == kOff) {
        loss = Loss();
        return CStatus();
    }
    const std::vector<std::string> items = COptionText::SplitList(text);
    Loss read;
    std::string strKey;
    std::string strValue;
    if (items.size() > 2 || !COptionText::ReadProbability(items[0], read.dProbability) ||
        (items.size() == 2 && (!COptionText::SplitKeyValue(items[1], strKey, strValue) || strKey != "burst" ||
                               !COptionText::ReadNumber(strValue, read.dBurst) || read.dBurst < 1 ||
                               read.dBurst > 1e9)))
        return COptionText::Refuse(text, std::string("is not P[,burst=N] with P ") + kProbability +
                                             " and N the mean length of a run of losses, at least 1");
    // In runs of N on average, a loss is followed by a kept datagram at least
    // once every N + 1.
    if (read.dBurst > 0 && read.dProbability > read.dBurst / (read.dBurst + 1))
        return COptionText::Refuse(text, "cannot be: with runs of " + strValue +
                                             " on average, at most N/(N+1) of the datagrams are lost");
    loss = read;
    return CStatus();
}

CStatus CLinkFaults::ReadDuplicate(std::string_view text, Duplicate& duplicate)
{
    if (text == kOff) {
        duplicate = Duplicate();
        return CStatus();
    }
    Duplicate read;
    bool bDelay = false;
    const CStatus status = ReadWithDelay(text, "delay", read.dProbability, bDelay, read.delay);
    if (status.IsOk())
        duplicate = read;
    return status;
}

CStatus CLinkFaults::ReadReorder(std::string_view text, Reorder& reorder)
{
    if (text == kOff) {
        reorder = Reorder();
        return CStatus();
    }
    Reorder read;
    const CStatus status = ReadWithDelay(text, "by", read.dProbability, read.bBy, read.by);
    if (status.IsOk())
        reorder = read;
    return status;
}

CStatus CLinkFaults::ReadJitter(std::string_view text, Jitter& jitter)
{
    if (text == kOff) {
        jitter = Jitter();
        return CStatus();
    }
    Jitter read;
    const CStatus status = CDelay::Read(text, read.delay);
    if (!status.IsOk())
        return status;
    read.bOn = !read.delay.IsZero();
    jitter = read;
    return CStatus();
}

CStatus CLinkFaults::ReadCorrupt(std::string_view text, Corrupt& corrupt)
{
    if (text == kOff) {
        corrupt = Corrupt();
        return CStatus();
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
    if (!bRead)
        return COptionText::Refuse(text, std::string("is not P[,KIND...] with P ") + kProbability +
                                             " and KIND truncate, flip or break-json");
    corrupt = read;
    return CStatus();
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
    } else if (loss.dBurst <= 0) {
        decision.bDrop = key.Unit(CRandom::kLoss) < loss.dProbability;
    } else {
        // Two states: a kept datagram starts a run of losses with the
        // chance q, a run goes on with the chance 1 - 1/N, so runs last N on
        // average; in the long run q / (q + 1/N) = P of the datagrams are
        // lost.
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
