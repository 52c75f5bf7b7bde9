#include "send/SendWorker.h"

#include <utility>

#include "send/CDatagramSink.h"
#include "send/CSendClock.h"
#include "send/CSendNotify.h"
#include "time/CDateTime.h"

const SendWorker::ModeInfo SendWorker::kModes[kModeCount] = {
    {kEverySecond, "每秒发送一次", "1s", 1},
    {kEveryTenSeconds, "每十秒发送一次", "10s", 10},
    {kEveryMinute, "每分钟发送一次", "1min", 60},
    {kEveryHour, "每小时发送一次", "1h", 3600},
    {kEvery100Ms, "每100毫秒发送一次", "100ms", 0},
    {kReplay, "模拟实际发送", "replay", 0},
    {kEvery10Ms, "每10毫秒发送一次", "10ms", 0},
};

SendWorker::SendWorker(SendSettings settings, std::unique_ptr<PacketList> pPackets, std::unique_ptr<TimeIndex> pIndex,
                       const std::atomic<bool>& bRunning, CSendClock& clock, CDatagramSink& sink,
                       CSendNotify& notify)
    : m_settings(std::move(settings)),
      m_pPackets(pPackets ? std::move(pPackets) : std::make_unique<PacketList>()),
      m_pIndex(std::move(pIndex)),
      m_bRunning(bRunning),
      m_clock(clock),
      m_sink(sink),
      m_notify(notify)
{
}

void SendWorker::Run()
{
    m_nCursor = 0;
    SendBytes(m_settings.strDeviceInfo.data(), m_settings.strDeviceInfo.size());
    m_nLastSend = 0;
    m_nInterval = kTickMs;
    for (;;) {
        m_clock.Sleep(m_nInterval);
        const int64_t nNow = m_clock.Now();
        m_notify.OnSendTick(static_cast<uint32_t>(nNow));
        if (!Step(nNow))
            break;
        if (!m_bRunning.load())
            break;
    }
    m_pPackets.reset();
    m_pIndex.reset();
    m_notify.OnSendEnd();
}

bool SendWorker::Step(int64_t nNow)
{
    switch (m_settings.nMode) {
    case kEverySecond:
    case kEveryTenSeconds:
        return TimedStep(nNow, IsMultipleAfter(nNow, kModes[m_settings.nMode].nPeriod));
    case kEveryMinute:
        return TimedStep(nNow, IsWholeMultiple(nNow, kModes[m_settings.nMode].nPeriod));
    case kEveryHour:
        return TimedStep(nNow, IsWholeLocalHour(nNow));
    case kEvery100Ms:
        return FastStep();
    case kReplay:
        return ReplayStep(nNow);
    case kEvery10Ms:
        m_nInterval = kFastTickMs;
        return FastStep();
    default:
        // No mode selected: the ticks run on and nothing is sent.
        return true;
    }
}

bool SendWorker::IsMultipleAfter(int64_t nNow, int64_t nPeriod) const
{
    const int64_t nDiff = nNow - m_nLastSend;
    return nDiff > 0 && nDiff % nPeriod == 0;
}

bool SendWorker::IsWholeMultiple(int64_t nNow, int64_t nPeriod) const
{
    // A clock set back by whole periods counts too.
    const int64_t nDiff = nNow - m_nLastSend;
    return nDiff != 0 && nDiff % nPeriod == 0;
}

bool SendWorker::IsWholeLocalHour(int64_t nNow) const
{
    // The whole hours of the local clock, which in a zone with a half-hour
    // offset are not those of the epoch; like the minute mode, a clock set
    // back onto a whole hour sends again.
    if (nNow == m_nLastSend)
        return false;
    const CDateTime when(nNow);
    return when.Minute() == 0 && when.Second() == 0;
}

bool SendWorker::TimedStep(int64_t nNow, bool bDue)
{
    if (!bDue)
        return true;
    if (m_nCursor >= m_pPackets->size()) {
        if (!m_settings.bLoop)
            return false;
        m_nCursor = 0;
    }
    const Packet packet = (*m_pPackets)[m_nCursor];
    if (!m_settings.bModifyTime) {
        SendBytes(packet.data, static_cast<size_t>(packet.length));
    } else {
        // A packet that cannot be stamped is tried again at the next due tick.
        if (!m_message.Stamp(packet, CDateTime(nNow), m_strText))
            return true;
        SendBytes(m_strText.data(), m_strText.size());
    }
    m_nLastSend = nNow;
    ++m_nCursor;
    return true;
}

bool SendWorker::FastStep()
{
    if (m_nCursor >= m_pPackets->size())
        return false;
    if (!m_message.MakeUp((*m_pPackets)[m_nCursor], m_strText))
        return true;
    SendBytes(m_strText.data(), m_strText.size());
    ++m_nCursor;
    return true;
}

bool SendWorker::ReplayStep(int64_t nNow)
{
    m_nInterval = kTickMs;
    if (!m_pIndex)
        return false;
    if (nNow == m_nLastSend)
        return true;
    if (nNow < m_nLastSend) {
        // The clock was set back: start again from the second before now.
        m_nLastSend = nNow - 1;
        return true;
    }
    const CDateTime when(nNow);
    const auto found = m_pIndex->find(CDeviceMessage::TimeOfDayKey(when.Hour(), when.Minute(), when.Second()));
    if (found != m_pIndex->end()) {
        for (const Packet& packet : found->second) {
            if (m_message.Stamp(packet, when, m_strText))
                SendBytes(m_strText.data(), m_strText.size());
        }
    }
    m_nLastSend = nNow;
    return true;
}

void SendWorker::SendBytes(const char* pData, size_t nLength)
{
    m_sink.Send(m_settings.strTargetIp, static_cast<uint16_t>(m_settings.nTargetPort), pData, nLength);
}
