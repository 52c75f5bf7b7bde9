#include "traffic/CTrafficConfig.h"

#include "packet/CDeviceMessage.h"
#include "text/CDecimal.h"
#include "traffic/COptionText.h"

namespace {

using Reader = CStatus (*)(std::string_view text, CTrafficConfig::Settings& settings);

struct KeyReader {
    const char* pszKey;
    CTrafficConfig::Key nKey;
    Reader read;
};

const KeyReader kReaders[] = {
    {"loss", CTrafficConfig::kLoss,
     [](std::string_view t, CTrafficConfig::Settings& s) { return CLinkFaults::ReadLoss(t, s.faults.loss); }},
    {"duplicate", CTrafficConfig::kDuplicate,
     [](std::string_view t, CTrafficConfig::Settings& s) {
         return CLinkFaults::ReadDuplicate(t, s.faults.duplicate);
     }},
    {"reorder", CTrafficConfig::kReorder,
     [](std::string_view t, CTrafficConfig::Settings& s) { return CLinkFaults::ReadReorder(t, s.faults.reorder); }},
    {"jitter", CTrafficConfig::kJitter,
     [](std::string_view t, CTrafficConfig::Settings& s) { return CLinkFaults::ReadJitter(t, s.faults.jitter); }},
    {"corrupt", CTrafficConfig::kCorrupt,
     [](std::string_view t, CTrafficConfig::Settings& s) { return CLinkFaults::ReadCorrupt(t, s.faults.corrupt); }},
    {"churn", CTrafficConfig::kChurn,
     [](std::string_view t, CTrafficConfig::Settings& s) { return CChurn::Read(t, s.churn); }},
};

}  // namespace

bool CTrafficConfig::IsKey(std::string_view key)
{
    for (const KeyReader& reader : kReaders) {
        if (key == reader.pszKey)
            return true;
    }
    return false;
}

CStatus CTrafficConfig::Set(std::string_view key, std::string_view text, Settings& settings, uint32_t& nKeys)
{
    for (const KeyReader& reader : kReaders) {
        if (key != reader.pszKey)
            continue;
        const CStatus read = reader.read(text, settings);
        if (read.IsOk())
            nKeys |= reader.nKey;
        return read;
    }
    return COptionText::Refuse(key, "is not a key of the traffic");
}

const std::vector<const char*>& CTrafficConfig::Keys()
{
    static const std::vector<const char*> keys = [] {
        std::vector<const char*> names;
        for (const KeyReader& reader : kReaders)
            names.push_back(reader.pszKey);
        return names;
    }();
    return keys;
}

CStatus CTrafficConfig::ReadVary(std::string_view text, Vary& vary)
{
    const size_t nEquals = text.find('=');
    if (nEquals == std::string_view::npos || nEquals == 0)
        return COptionText::Refuse(text, "is not MEMBER=GENERATOR[,decimals=N]");
    Vary read;
    read.strText = std::string(text);
    read.strMember = std::string(text.substr(0, nEquals));
    if (!CDeviceMessage::IsUsersMember(read.strMember))
        return COptionText::Refuse(text, CDeviceMessage::kUsersMemberRule);
    const std::vector<std::string> items = COptionText::SplitList(text.substr(nEquals + 1));
    std::string strKey;
    std::string strValue;
    uint64_t nDecimals = 0;
    if (items.size() > 2 ||
        (items.size() == 2 && (!COptionText::SplitKeyValue(items[1], strKey, strValue) || strKey != "decimals" ||
                               !CDecimal::Read(strValue, CMessageTemplate::kMaxDecimals, nDecimals))))
        return COptionText::Refuse(text, "is not MEMBER=GENERATOR[,decimals=N] with N from 0 to 9");
    if (items.size() == 2)
        read.nDecimals = static_cast<int>(nDecimals);
    const CStatus generator = CGenerator::Read(items[0], read.generator);
    if (!generator.IsOk())
        return COptionText::Refuse(text, "has " + COptionText::Quoted(items[0]) + ", which " +
                                             COptionText::Reason(generator, items[0]));
    vary = std::move(read);
    return CStatus();
}

CStatus CTrafficConfig::ReadDevices(std::string_view text, Stage& stage)
{
    uint64_t nCount = 0;
    double dShare = 0;
    if (!text.empty() && text.back() == '%' && COptionText::ReadProbability(text, dShare)) {
        stage.bDevicesCount = false;
        stage.dDevices = dShare;
    } else if (text.size() <= 7 && CDecimal::Read(text, 1000000, nCount)) {
        stage.bDevicesCount = true;
        stage.dDevices = static_cast<double>(nCount);
    } else {
        return COptionText::Refuse(text, "is not a share of the fleet (0% to 100%) or a count of devices (0 to "
                                         "1000000)");
    }
    stage.bDevices = true;
    stage.strDevices = std::string(text);
    return CStatus();
}

void CTrafficConfig::Override(const CTrafficConfig& given)
{
    if (given.seed)
        seed = given.seed;
    if (!given.vary.empty())
        vary = given.vary;
    if (!given.outages.empty())
        outages = given.outages;
    const uint32_t nKeys = given.nStartKeys;
    if (nKeys & kLoss)
        start.faults.loss = given.start.faults.loss;
    if (nKeys & kDuplicate)
        start.faults.duplicate = given.start.faults.duplicate;
    if (nKeys & kReorder)
        start.faults.reorder = given.start.faults.reorder;
    if (nKeys & kJitter)
        start.faults.jitter = given.start.faults.jitter;
    if (nKeys & kCorrupt)
        start.faults.corrupt = given.start.faults.corrupt;
    if (nKeys & kChurn)
        start.churn = given.start.churn;
    nStartKeys |= nKeys;
}

CStatus CTrafficConfig::AddVary(const Vary& add)
{
    for (const Vary& rule : vary) {
        if (rule.strMember == add.strMember)
            return COptionText::Refuse(add.strText, "gives the member " + COptionText::Quoted(add.strMember) +
                                                        " a second generator");
    }
    if (vary.size() >= kMaxVary)
        return COptionText::Refuse(add.strText, "is one rule too many (at most 64)");
    vary.push_back(add);
    return CStatus();
}

bool CTrafficConfig::Used() const
{
    return seed || !vary.empty() || nStartKeys != 0 || !outages.empty() || !stages.empty() || !strScenario.empty();
}

bool CTrafficConfig::HasFaults() const
{
    return AnySettings([](const Settings& settings) { return settings.faults.Any() || settings.churn.On(); }) ||
           HasOutages() || SetsDevices();
}

bool CTrafficConfig::HasOutages() const
{
    bool bOutage = !outages.empty();
    for (const Stage& stage : stages)
        bOutage = bOutage || stage.outage.has_value();
    return bOutage;
}

bool CTrafficConfig::SetsRate() const
{
    bool bRate = false;
    for (const Stage& stage : stages)
        bRate = bRate || stage.dRate || stage.interval;
    return bRate;
}

bool CTrafficConfig::SetsDevices() const
{
    bool bDevices = false;
    for (const Stage& stage : stages)
        bDevices = bDevices || stage.bDevices;
    return bDevices;
}
