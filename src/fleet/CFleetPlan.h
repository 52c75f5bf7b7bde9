#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "packet/CMessageTemplate.h"
#include "packet/CTemplateBuilder.h"
#include "packet/PacketList.h"
#include "packet/TimeIndex.h"
#include "schedule/SendModes.h"

// What every device of a fleet sends, built once before the run from the
// loaded packets: one template per packet, shared by all devices, the device
// info message's template, and for replay each device group's messages by
// time-of-day key. Devices differ only in their values (IMEI, counter), which
// are computed when a datagram is written, so a device costs no copy of any
// message. Read-only once built: the scheduler threads share it.
class CFleetPlan {
public:
    struct Settings {
        SendModes::Mode nMode = SendModes::kEverySecond;
        bool bLoop = true;
        bool bModifyTime = true;
        std::string strCounter;
        // The root member replies are matched by (empty: by order).
        std::string strReplyMatch;
        // One device per distinct "IMEI" value of the index instead of
        // numbered IMEIs.
        bool bByImei = false;
        // One device per source of a capture, its IMEI the value of its
        // first message's "IMEI"; the messages keep their own.
        bool bBySource = false;
        // Numbered devices that leave the messages' "IMEI" alone.
        bool bKeepImei = false;
        // The capture's own timing instead of the mode's: packet i goes at
        // its capture time divided by dSpeed after the first check.
        bool bCaptureTime = false;
        double dSpeed = 1.0;
        uint64_t nImeiFirst = 1234567890;
        int nImeiWidth = 10;
        // The members that take generated values (--vary), rule by rule.
        std::vector<CTemplateBuilder::Vary> vary;
    };

    struct Entry {
        CMessageTemplate message;
        // False for a packet that does not parse in a rewriting step: the
        // device that reaches it stops there, as one device does.
        bool bUsable = false;
        // With vary rules: what became of each rule's member in the packet.
        std::vector<CTemplateBuilder::VaryMatch> matches;
    };

    // Replay: nKey is the time-of-day key; by capture time, the instant in
    // nanoseconds after the first check, the speed applied.
    struct ReplayItem {
        int64_t nKey;
        uint32_t nEntry;
    };

    // A capture's packets: per packet, its capture time in nanoseconds after
    // the first datagram and its source's number.
    struct Capture {
        const int64_t* pNs = nullptr;
        const uint32_t* pSource = nullptr;
    };

    // Builds the plan; the packets and the index may be released afterwards.
    // pIndex is needed for replay (without it replay devices end after their
    // device info message) and for by-IMEI fleets; capture for by-source
    // fleets and the capture's timing (null for other inputs).
    void Build(const Settings& settings, const std::string& strDeviceInfo, const PacketList& packets,
               const TimeIndex* pIndex, const Capture* pCapture = nullptr);

    const Settings& GetSettings() const { return m_settings; }
    const CMessageTemplate& DeviceInfo() const { return m_deviceInfo; }
    size_t Size() const { return m_entries.size(); }
    const Entry& At(size_t i) const { return m_entries[i]; }
    bool HasIndex() const { return m_bHasIndex; }

    // By-IMEI fleets: the number of devices (distinct IMEI values in the
    // index, in file order) and device k's IMEI value as JSON text; the
    // same for by-source fleets, with a device per source.
    size_t ImeiGroups() const { return m_imeis.size(); }
    std::string_view ImeiJson(uint64_t k) const { return m_imeis[k]; }

    // Replay: device k's messages, ascending by key, file order within one
    // key; by capture time, in capture order.
    const ReplayItem* ReplayBegin(uint64_t k) const;
    const ReplayItem* ReplayEnd(uint64_t k) const;
    // The same keys without repeats, for finding the next second.
    const int64_t* KeysBegin(uint64_t k) const;
    const int64_t* KeysEnd(uint64_t k) const;

    // Device k's values (IMEI number and width, or its IMEI value).
    CMessageTemplate::Values ValuesOf(uint64_t k) const;
    // Device k's IMEI as it goes out: digits, or the by-IMEI value's text.
    std::string ImeiText(uint64_t k) const;

private:
    // One template per packet, and each packet's device group.
    void MakeEntries(CTemplateBuilder& builder, const PacketList& packets, const Capture& capture,
                     std::vector<uint32_t>& entryGroup);
    // Replay: each group's messages by time-of-day key.
    void GroupIndex(const PacketList& packets, const TimeIndex& index, const std::vector<uint32_t>& entryGroup,
                    std::vector<std::vector<ReplayItem>>& groups) const;
    // The groups' items and keys one after the other.
    void Flatten(const std::vector<std::vector<ReplayItem>>& groups);

    bool Grouped() const { return m_settings.bByImei || m_settings.bBySource; }
    size_t GroupOf(uint64_t k) const { return Grouped() ? static_cast<size_t>(k) : 0; }

    Settings m_settings;
    CMessageTemplate m_deviceInfo;
    std::vector<Entry> m_entries;
    bool m_bHasIndex = false;
    std::vector<std::string> m_imeis;
    // Group g's items are m_replay[m_groupStart[g] .. m_groupStart[g + 1]),
    // its distinct keys m_keys[m_keyStart[g] .. m_keyStart[g + 1]).
    std::vector<ReplayItem> m_replay;
    std::vector<uint32_t> m_groupStart;
    std::vector<int64_t> m_keys;
    std::vector<uint32_t> m_keyStart;
};
