#include "fleet/CFleetPlan.h"

#include <unordered_map>

#include "packet/CDeviceMessage.h"
#include "schedule/CSendSchedule.h"
#include "text/CDecimal.h"

namespace {

CMessageTemplate::Kind KindOf(const CFleetPlan::Settings& settings)
{
    if (CSendSchedule::IsFast(settings.nMode))
        return CMessageTemplate::Kind::kMakeUp;
    if (CSendSchedule::IsReplay(settings.nMode) || settings.bModifyTime)
        return CMessageTemplate::Kind::kStamp;
    return CMessageTemplate::Kind::kRaw;
}

Packet PacketOf(const std::string& text)
{
    return Packet{text.data(), static_cast<int32_t>(text.size())};
}

}  // namespace

void CFleetPlan::Build(const Settings& settings, const std::string& strDeviceInfo, const PacketList& packets,
                       const TimeIndex* pIndex, const Capture* pCapture)
{
    // Nothing of an earlier plan is kept.
    *this = CFleetPlan();
    const Capture capture = pCapture != nullptr ? *pCapture : Capture();
    m_settings = settings;
    CTemplateBuilder builder;
    CTemplateBuilder::Rule infoRule;
    infoRule.nKind = CMessageTemplate::Kind::kRaw;
    infoRule.strMatch = settings.strReplyMatch;
    if (!builder.Make(PacketOf(strDeviceInfo), infoRule, m_deviceInfo))
        m_deviceInfo = CMessageTemplate::FromBytes(strDeviceInfo);

    std::vector<uint32_t> entryGroup(packets.size(), 0);
    MakeEntries(builder, packets, capture, entryGroup);
    m_bHasIndex = pIndex != nullptr;
    std::vector<std::vector<ReplayItem>> groups(Grouped() ? m_imeis.size() : 1);
    if (settings.bCaptureTime && capture.pNs != nullptr) {
        m_bHasIndex = true;
        for (size_t i = 0; i < packets.size(); ++i) {
            const double dAt = static_cast<double>(capture.pNs[i]) / settings.dSpeed;
            groups[entryGroup[i]].push_back({static_cast<int64_t>(dAt), static_cast<uint32_t>(i)});
        }
    } else if (pIndex != nullptr) {
        GroupIndex(packets, *pIndex, entryGroup, groups);
    }
    Flatten(groups);
}

void CFleetPlan::MakeEntries(CTemplateBuilder& builder, const PacketList& packets, const Capture& capture,
                             std::vector<uint32_t>& entryGroup)
{
    CTemplateBuilder::Rule rule;
    rule.nKind = KindOf(m_settings);
    rule.bSetImei = !m_settings.bByImei && !m_settings.bBySource && !m_settings.bKeepImei;
    rule.strCounter = m_settings.strCounter;
    rule.strMatch = m_settings.strReplyMatch;
    rule.vary = m_settings.vary;
    m_entries.resize(packets.size());
    CDeviceMessage message;
    std::unordered_map<std::string, uint32_t> groupOf;
    for (size_t i = 0; i < packets.size(); ++i) {
        const Packet packet = packets[i];
        Entry& entry = m_entries[i];
        entry.bUsable = builder.Make(packet, rule, entry.message, rule.vary.empty() ? nullptr : &entry.matches);
        if (!entry.bUsable && rule.nKind == CMessageTemplate::Kind::kRaw) {
            // Without rewriting, a packet that does not parse goes as cut.
            entry.message = CMessageTemplate::FromBytes(std::string_view(packet.data, static_cast<size_t>(packet.length)));
            entry.bUsable = true;
        }
        std::string strImei;
        if (m_settings.bBySource && capture.pSource != nullptr) {
            // Sources are numbered in the order they first send.
            const uint32_t nSource = capture.pSource[i];
            if (nSource == m_imeis.size())
                m_imeis.push_back(message.ReadImei(packet, strImei) ? strImei : "null");
            entryGroup[i] = nSource;
        } else if (m_settings.bByImei && message.ReadImei(packet, strImei)) {
            const auto found = groupOf.emplace(strImei, static_cast<uint32_t>(m_imeis.size()));
            if (found.second)
                m_imeis.push_back(strImei);
            entryGroup[i] = found.first->second;
        }
    }
}

void CFleetPlan::GroupIndex(const PacketList& packets, const TimeIndex& index,
                            const std::vector<uint32_t>& entryGroup, std::vector<std::vector<ReplayItem>>& groups) const
{
    // The index holds the same packets as the list: found by their bytes.
    std::unordered_map<const char*, uint32_t> entryOf;
    for (size_t i = 0; i < packets.size(); ++i)
        entryOf.emplace(packets[i].data, static_cast<uint32_t>(i));
    for (const auto& key : index) {
        for (const Packet& packet : key.second) {
            const auto found = entryOf.find(packet.data);
            if (found == entryOf.end())
                continue;
            groups[Grouped() ? entryGroup[found->second] : 0].push_back({key.first, found->second});
        }
    }
}

void CFleetPlan::Flatten(const std::vector<std::vector<ReplayItem>>& groups)
{
    m_groupStart.assign(1, 0);
    m_keyStart.assign(1, 0);
    for (const std::vector<ReplayItem>& group : groups) {
        for (const ReplayItem& item : group) {
            m_replay.push_back(item);
            if (m_keys.size() == m_keyStart.back() || m_keys.back() != item.nKey)
                m_keys.push_back(item.nKey);
        }
        m_groupStart.push_back(static_cast<uint32_t>(m_replay.size()));
        m_keyStart.push_back(static_cast<uint32_t>(m_keys.size()));
    }
}

const CFleetPlan::ReplayItem* CFleetPlan::ReplayBegin(uint64_t k) const
{
    return m_replay.data() + m_groupStart[GroupOf(k)];
}

const CFleetPlan::ReplayItem* CFleetPlan::ReplayEnd(uint64_t k) const
{
    return m_replay.data() + m_groupStart[GroupOf(k) + 1];
}

const int64_t* CFleetPlan::KeysBegin(uint64_t k) const
{
    return m_keys.data() + m_keyStart[GroupOf(k)];
}

const int64_t* CFleetPlan::KeysEnd(uint64_t k) const
{
    return m_keys.data() + m_keyStart[GroupOf(k) + 1];
}

CMessageTemplate::Values CFleetPlan::ValuesOf(uint64_t k) const
{
    CMessageTemplate::Values values;
    if (Grouped()) {
        values.imeiJson = m_imeis[k];
    } else {
        values.nImei = m_settings.nImeiFirst + k;
        values.nImeiWidth = m_settings.nImeiWidth;
    }
    return values;
}

std::string CFleetPlan::ImeiText(uint64_t k) const
{
    if (Grouped())
        return m_imeis[k];
    return CDecimal::Padded(m_settings.nImeiFirst + k, m_settings.nImeiWidth);
}
