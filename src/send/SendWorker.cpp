#include "send/SendWorker.h"

#include <utility>

#include "send/CDatagramSink.h"
#include "send/CSendClock.h"
#include "send/CSendNotify.h"
#include "time/CDateTime.h"

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
        return TimedStep(nNow, 1, false);
    case kEveryTenSeconds:
        return TimedStep(nNow, 10, false);
    case kEveryMinute:
        return TimedStep(nNow, 60, true);
    case kEveryHour:
        return TimedStep(nNow, 3600, true);
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

bool SendWorker::TimedStep(int64_t nNow, int64_t nPeriod, bool bAnyDirection)
{
    // Whole multiples of the period from the last send; the minute and hour
    // modes also count a clock set back by whole periods.
    const int64_t nDiff = nNow - m_nLastSend;
    const bool bDue = (bAnyDirection ? nDiff != 0 : nDiff > 0) && nDiff % nPeriod == 0;
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
