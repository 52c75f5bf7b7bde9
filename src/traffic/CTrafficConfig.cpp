#include "traffic/CTrafficConfig.h"

#include "text/CDecimal.h"
#include "traffic/COptionText.h"

namespace {

using Reader = bool (*)(std::string_view text, CTrafficConfig::Settings& settings, std::string& strWrong);

struct KeyReader {
    const char* pszKey;
    CTrafficConfig::Key nKey;
    Reader read;
};

const KeyReader kReaders[] = {
    {"loss", CTrafficConfig::kLoss,
     [](std::string_view t, CTrafficConfig::Settings& s, std::string& w) {
         return CLinkFaults::ReadLoss(t, s.faults.loss, w);
     }},
    {"duplicate", CTrafficConfig::kDuplicate,
     [](std::string_view t, CTrafficConfig::Settings& s, std::string& w) {
         return CLinkFaults::ReadDuplicate(t, s.faults.duplicate, w);
     }},
    {"reorder", CTrafficConfig::kReorder,
     [](std::string_view t, CTrafficConfig::Settings& s, std::string& w) {
         return CLinkFaults::ReadReorder(t, s.faults.reorder, w);
     }},
    {"jitter", CTrafficConfig::kJitter,
     [](std::string_view t, CTrafficConfig::Settings& s, std::string& w) {
         return CLinkFaults::ReadJitter(t, s.faults.jitter, w);
     }},
    {"corrupt", CTrafficConfig::kCorrupt,
     [](std::string_view t, CTrafficConfig::Settings& s, std::string& w) {
         return CLinkFaults::ReadCorrupt(t, s.faults.corrupt, w);
     }},
    {"churn", CTrafficConfig::kChurn,
     [](std::string_view t, CTrafficConfig::Settings& s, std::string& w) { return CChurn::Read(t, s.churn, w); }},
};

}  // namespace

bool CTrafficConfig::Set(std::string_view key, std::string_view text, Settings& settings, uint32_t& nKeys,
                         std::string& strWrong)
{
    strWrong.clear();
    for (const KeyReader& reader : kReaders) {
        if (key != reader.pszKey)
            continue;
        if (!reader.read(text, settings, strWrong))
            return false;
        nKeys |= reader.nKey;
        return true;
    }
    return false;
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

bool CTrafficConfig::ReadVary(std::string_view text, Vary& vary, std::string& strWrong)
{
    const size_t nEquals = text.find('=');
    if (nEquals == std::string_view::npos || nEquals == 0) {
        strWrong = "is not MEMBER=GENERATOR[,decimals=N]";
        return false;
    }
    Vary read;
    read.strText = std::string(text);
    read.strMember = std::string(text.substr(0, nEquals));
    if (read.strMember == "IMEI" || read.strMember == "time") {
        strWrong = "needs a member other than IMEI and time";
        return false;
    }
    const std::vector<std::string> items = COptionText::SplitList(text.substr(nEquals + 1));
    std::string strKey;
    std::string strValue;
    uint64_t nDecimals = 0;
    if (items.size() > 2 ||
        (items.size() == 2 && (!COptionText::SplitKeyValue(items[1], strKey, strValue) || strKey != "decimals" ||
                               !CDecimal::Read(strValue, CMessageTemplate::kMaxDecimals, nDecimals)))) {
        strWrong = "is not MEMBER=GENERATOR[,decimals=N] with N from 0 to 9";
        return false;
    }
    if (items.size() == 2)
        read.nDecimals = static_cast<int>(nDecimals);
    std::string strGeneratorWrong;
    if (!CGenerator::Read(items[0], read.generator, strGeneratorWrong)) {
        strWrong = "has " + COptionText::Quoted(items[0]) + ", which " + strGeneratorWrong;
        return false;
    }
    vary = std::move(read);
    return true;
}

bool CTrafficConfig::ReadSeed(std::string_view text, uint64_t& nSeed, std::string& strWrong)
{
    if (!CDecimal::Read(text, UINT64_MAX, nSeed) || text.size() > 20) {
        strWrong = "is not a seed (decimal digits, 0 to 18446744073709551615)";
        return false;
    }
    return true;
}

bool CTrafficConfig::ReadDevices(std::string_view text, Stage& stage, std::string& strWrong)
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
        strWrong = "is not a share of the fleet (0% to 100%) or a count of devices (0 to 1000000)";
        return false;
    }
    stage.bDevices = true;
    return true;
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

bool CTrafficConfig::AddVary(const Vary& add, std::string& strWrong)
{
    for (const Vary& rule : vary) {
        if (rule.strMember == add.strMember) {
            strWrong = "gives the member " + COptionText::Quoted(add.strMember) + " a second generator";
            return false;
        }
    }
    if (vary.size() >= kMaxVary) {
        strWrong = "is one rule too many (at most 64)";
        return false;
    }
    vary.push_back(add);
    return true;
}

bool CTrafficConfig::Used() const
{
    return seed || !vary.empty() || HasFaults();
}

bool CTrafficConfig::HasFaults() const
{
    if (start.faults.Any() || start.churn.On() || !outages.empty())
        return true;
    for (const Stage& stage : stages) {
        if (stage.settings.faults.Any() || stage.settings.churn.On() || stage.outage || stage.bDevices)
            return true;
    }
    return false;
}
