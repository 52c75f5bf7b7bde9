#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "figures/CReplyStats.h"
#include "packet/CMessageTemplate.h"

// Ties each reply a device's socket gets to the datagram of that device it
// answers. By order, a reply answers the device's oldest outstanding
// datagram; by member, the outstanding datagram whose member has the
// reply's value (CMessageTemplate::MatchKey, CReplyKeyReader). A datagram is
// outstanding from its send until a reply answers it or the timeout passes
// (then it is lost); what becomes of every datagram and reply is counted in
// the stats (CReplyStats).
//
// Kept per device: at most nSlots outstanding datagrams (their sent instant
// and key, 16 bytes each) and a few words of state; by member also the keys
// of the last kRecent answered and lost datagrams, to tell a duplicate from
// a late reply. A device with nSlots outstanding that sends again drops its
// oldest as lost (evicted, counted apart too; a reply for it then counts as
// late). By order, a duplicate cannot be told from an unmatched reply: it
// counts as unmatched, or as late while the device has lost datagrams no
// reply has claimed.
//
// Expect and Settle are called on the device's scheduler thread, Replied on the reply
// reader's, Expire and ExpireAll from any; each device's state is under a
// small lock of its own.
class CReplyMatcher {
public:
    struct Settings {
        int64_t nTimeoutNs = 1000000000;
        bool bByMember = false;
        int nSlots = 4;
    };

    enum class Outcome : uint8_t { kMatched, kMatchedOutOfOrder, kLate, kDuplicate, kUnmatched };

    static constexpr int kMinSlots = 2;
    static constexpr int kMaxSlots = 64;
    static constexpr int kRecent = 4;

    CReplyMatcher(uint32_t nDevices, const Settings& settings, CReplyStats& stats);
    ~CReplyMatcher();
    CReplyMatcher(const CReplyMatcher&) = delete;
    CReplyMatcher& operator=(const CReplyMatcher&) = delete;

    // Slots for the datagrams a device sends within the timeout, sending
    // every nPeriodNs (0: no steady period, as in replay), within the bounds.
    static int SlotsFor(int64_t nTimeoutNs, int64_t nPeriodNs);
    // What the matcher keeps per device, in bytes.
    size_t BytesPerDevice() const;
    const Settings& GetSettings() const { return m_settings; }

    // The key the datagram of message and values is tracked by: 0 by order;
    // by member its member's, none when it has no such member (it is not
    // tracked). Taken when the datagram is written, since it may leave later.
    std::optional<uint64_t> KeyOf(const CMessageTemplate& message, const CMessageTemplate::Values& values) const;
    // Device nDevice is about to hand a datagram with key (KeyOf) to the
    // system at nSentNs: outstanding from then on, before its reply can come.
    // Answers whether it is tracked.
    bool Expect(uint32_t nDevice, std::optional<uint64_t> key, int64_t nSentNs);
    // After the send: a tracked datagram that could not be sent is withdrawn;
    // an untracked one that went out is counted so.
    void Settle(uint32_t nDevice, bool bTracked, bool bSent);
    // A reply reached device nDevice's socket at nArrivalNs; by member with
    // its key (bKeyed false: the reply had no such member: unmatched).
    Outcome Replied(uint32_t nDevice, bool bKeyed, uint64_t nKey, int64_t nArrivalNs);
    // Every datagram outstanding longer than the timeout at nNowNs is lost.
    void Expire(int64_t nNowNs);
    // At the run's end: every datagram still outstanding is lost.
    void ExpireAll();
    // Datagrams outstanding now, over all devices.
    uint64_t Outstanding() const { return m_nOutstanding.load(); }

private:
    struct Entry {
        int64_t nSentNs;
        uint64_t nKey;
    };
    struct Device;

    // With the device's lock held.
    void ExpireDevice(uint32_t nDevice, int64_t nBeforeNs);
    void PopFront(uint32_t nDevice, bool bEvicted);
    void Remember(uint64_t* pRing, uint8_t& nHead, uint64_t nKey);
    Entry& Slot(uint32_t nDevice, int nPosition);
    uint64_t* Answered(uint32_t nDevice);
    uint64_t* LostKeys(uint32_t nDevice);
    void Lock(uint32_t nDevice);
    void Unlock(uint32_t nDevice);

    const Settings m_settings;
    CReplyStats& m_stats;
    std::unique_ptr<std::atomic<uint8_t>[]> m_locks;
    std::vector<Device> m_devices;
    std::vector<Entry> m_slots;
    std::vector<uint64_t> m_recent;
    std::atomic<uint64_t> m_nOutstanding{0};
};
