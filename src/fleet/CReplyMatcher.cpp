#include "fleet/CReplyMatcher.h"

#include <algorithm>
#include <thread>

namespace {

// The sent instant of a slot whose datagram was answered while older ones
// were still outstanding: a hole, dropped when it reaches the front.
constexpr int64_t kAnswered = INT64_MIN;

}  // namespace

// A device's ring of outstanding datagrams (positions nHead to nHead +
// nCount - 1, mod the slots), the positions whose datagrams were overtaken
// (a newer one of the device answered first), the heads of its recent-key
// rings, and, by order, how many of its lost datagrams no late reply has
// claimed yet.
struct CReplyMatcher::Device {
    uint64_t nOvertaken = 0;
    uint32_t nUnclaimedLost = 0;
    uint8_t nHead = 0;
    uint8_t nCount = 0;
    uint8_t nAnsweredHead = 0;
    uint8_t nLostHead = 0;
};

CReplyMatcher::CReplyMatcher(uint32_t nDevices, const Settings& settings, CReplyStats& stats)
    : m_settings(settings),
      m_stats(stats),
      m_locks(new std::atomic<uint8_t>[nDevices]()),
      m_devices(nDevices),
      m_slots(static_cast<size_t>(nDevices) * static_cast<size_t>(settings.nSlots)),
      m_recent(settings.bByMember ? static_cast<size_t>(nDevices) * 2 * kRecent : 0)
{
}

CReplyMatcher::~CReplyMatcher() = default;

int CReplyMatcher::SlotsFor(int64_t nTimeoutNs, int64_t nPeriodNs)
{
    if (nPeriodNs <= 0)
        return 16;
    const int64_t nWithin = (nTimeoutNs + nPeriodNs - 1) / nPeriodNs + 2;
    return static_cast<int>(std::clamp<int64_t>(nWithin, kMinSlots, kMaxSlots));
}

size_t CReplyMatcher::BytesPerDevice() const
{
    return sizeof(std::atomic<uint8_t>) + sizeof(Device) + static_cast<size_t>(m_settings.nSlots) * sizeof(Entry) +
           (m_settings.bByMember ? 2 * kRecent * sizeof(uint64_t) : 0);
}

CReplyMatcher::Entry& CReplyMatcher::Slot(uint32_t nDevice, int nPosition)
{
    return m_slots[static_cast<size_t>(nDevice) * static_cast<size_t>(m_settings.nSlots) +
                   static_cast<size_t>(nPosition % m_settings.nSlots)];
}

uint64_t* CReplyMatcher::Answered(uint32_t nDevice)
{
    return &m_recent[static_cast<size_t>(nDevice) * 2 * kRecent];
}

uint64_t* CReplyMatcher::LostKeys(uint32_t nDevice)
{
    return Answered(nDevice) + kRecent;
}

void CReplyMatcher::Lock(uint32_t nDevice)
{
    while (m_locks[nDevice].exchange(1, std::memory_order_acquire) != 0)
        std::this_thread::yield();
}

void CReplyMatcher::Unlock(uint32_t nDevice)
{
    m_locks[nDevice].store(0, std::memory_order_release);
}

void CReplyMatcher::Remember(uint64_t* pRing, uint8_t& nHead, uint64_t nKey)
{
    pRing[nHead] = nKey;
    nHead = static_cast<uint8_t>((nHead + 1) % kRecent);
}

void CReplyMatcher::PopFront(uint32_t nDevice, bool bEvicted)
{
    Device& device = m_devices[nDevice];
    const Entry entry = Slot(nDevice, device.nHead);
    device.nOvertaken &= ~(uint64_t{1} << device.nHead);
    device.nHead = static_cast<uint8_t>((device.nHead + 1) % m_settings.nSlots);
    --device.nCount;
    if (entry.nSentNs == kAnswered)
        return;
    m_nOutstanding.fetch_sub(1, std::memory_order_relaxed);
    m_stats.RecordLost(bEvicted);
    if (m_settings.bByMember)
        Remember(LostKeys(nDevice), device.nLostHead, entry.nKey);
    else
        ++device.nUnclaimedLost;
}

void CReplyMatcher::ExpireDevice(uint32_t nDevice, int64_t nBeforeNs)
{
    Device& device = m_devices[nDevice];
    while (device.nCount > 0) {
        const Entry& front = Slot(nDevice, device.nHead);
        if (front.nSentNs != kAnswered && front.nSentNs > nBeforeNs)
            break;
        PopFront(nDevice, false);
    }
}

std::optional<uint64_t> CReplyMatcher::KeyOf(const CMessageTemplate& message,
                                             const CMessageTemplate::Values& values) const
{
    uint64_t nKey = 0;
    if (m_settings.bByMember && !message.MatchKey(values, nKey))
        return std::nullopt;
    return nKey;
}

bool CReplyMatcher::Expect(uint32_t nDevice, std::optional<uint64_t> key, int64_t nSentNs)
{
    if (!key)
        return false;
    const uint64_t nKey = *key;
    Lock(nDevice);
    ExpireDevice(nDevice, nSentNs - m_settings.nTimeoutNs);
    Device& device = m_devices[nDevice];
    if (device.nCount == m_settings.nSlots)
        PopFront(nDevice, true);
    Slot(nDevice, device.nHead + device.nCount) = Entry{nSentNs, nKey};
    ++device.nCount;
    m_nOutstanding.fetch_add(1, std::memory_order_relaxed);
    Unlock(nDevice);
    return true;
}

void CReplyMatcher::Settle(uint32_t nDevice, bool bTracked, bool bSent)
{
    if (bSent) {
        if (!bTracked)
            m_stats.RecordUntracked();
        return;
    }
    if (!bTracked)
        return;
    // The newest entry is the one expected (the device's thread is the only
    // one that adds), unless a reply has answered it meanwhile: a reply to
    // a datagram that never left cannot come.
    Lock(nDevice);
    Device& device = m_devices[nDevice];
    if (device.nCount > 0) {
        Entry& newest = Slot(nDevice, device.nHead + device.nCount - 1);
        if (newest.nSentNs != kAnswered) {
            m_nOutstanding.fetch_sub(1, std::memory_order_relaxed);
            device.nOvertaken &= ~(uint64_t{1} << ((device.nHead + device.nCount - 1) % m_settings.nSlots));
            --device.nCount;
        }
    }
    Unlock(nDevice);
}

CReplyMatcher::Outcome CReplyMatcher::Replied(uint32_t nDevice, bool bKeyed, uint64_t nKey, int64_t nArrivalNs)
{
    if (m_settings.bByMember && !bKeyed) {
        m_stats.RecordUnmatched();
        return Outcome::kUnmatched;
    }
    Lock(nDevice);
    ExpireDevice(nDevice, nArrivalNs - m_settings.nTimeoutNs);
    Device& device = m_devices[nDevice];
    Outcome nOutcome = Outcome::kUnmatched;
    for (int i = 0; i < device.nCount; ++i) {
        const int nPosition = (device.nHead + i) % m_settings.nSlots;
        Entry& entry = Slot(nDevice, nPosition);
        if (entry.nSentNs == kAnswered || (m_settings.bByMember && entry.nKey != nKey))
            continue;
        const bool bOvertaken = (device.nOvertaken >> nPosition) & 1;
        m_stats.RecordMatched(nArrivalNs - entry.nSentNs, bOvertaken);
        m_nOutstanding.fetch_sub(1, std::memory_order_relaxed);
        entry.nSentNs = kAnswered;
        // The older ones still outstanding were overtaken by this one.
        for (int j = 0; j < i; ++j)
            device.nOvertaken |= uint64_t{1} << ((device.nHead + j) % m_settings.nSlots);
        if (m_settings.bByMember)
            Remember(Answered(nDevice), device.nAnsweredHead, nKey);
        nOutcome = bOvertaken ? Outcome::kMatchedOutOfOrder : Outcome::kMatched;
        break;
    }
    if (nOutcome == Outcome::kUnmatched) {
        if (m_settings.bByMember) {
            uint64_t* const pAnswered = Answered(nDevice);
            uint64_t* const pLost = LostKeys(nDevice);
            if (std::find(pAnswered, pAnswered + kRecent, nKey) != pAnswered + kRecent) {
                nOutcome = Outcome::kDuplicate;
            } else if (uint64_t* const pFound = std::find(pLost, pLost + kRecent, nKey); pFound != pLost + kRecent) {
                // A second copy of this late reply is a duplicate.
                *pFound = ~nKey;
                Remember(pAnswered, device.nAnsweredHead, nKey);
                nOutcome = Outcome::kLate;
            }
        } else if (device.nUnclaimedLost > 0) {
            --device.nUnclaimedLost;
            nOutcome = Outcome::kLate;
        }
    }
    while (device.nCount > 0 && Slot(nDevice, device.nHead).nSentNs == kAnswered)
        PopFront(nDevice, false);
    Unlock(nDevice);
    if (nOutcome == Outcome::kLate)
        m_stats.RecordLate();
    else if (nOutcome == Outcome::kDuplicate)
        m_stats.RecordDuplicate();
    else if (nOutcome == Outcome::kUnmatched)
        m_stats.RecordUnmatched();
    return nOutcome;
}

void CReplyMatcher::Expire(int64_t nNowNs)
{
    for (uint32_t nDevice = 0; nDevice < m_devices.size(); ++nDevice) {
        Lock(nDevice);
        ExpireDevice(nDevice, nNowNs - m_settings.nTimeoutNs);
        Unlock(nDevice);
    }
}

void CReplyMatcher::ExpireAll()
{
    Expire(INT64_MAX);
}
