#include "send/SendWorker.h"

#include <utility>

#include "schedule/CSendSchedule.h"
#include "send/CDatagramSink.h"
#include "send/CSendClock.h"
#include "send/CSendNotify.h"
#include "time/CDateTime.h"
#include "time/CTimeOfDay.h"

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
    m_nInterval = SendModes::kFirstTickMs;
    for (;;) {
        // A stop during the wait ends the run there, before another step.
        if (!m_clock.Sleep(m_nInterval, m_bRunning))
            break;
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
    // No mode selected: the ticks run on and nothing is sent.
    if (!m_settings.mode)
        return true;
    const SendModes::Mode nMode = *m_settings.mode;
    // The 10 ms mode ticks faster from its first step on.
    m_nInterval = CSendSchedule::TickMs(nMode);
    if (CSendSchedule::IsTimed(nMode))
        return TimedStep(nNow);
    if (CSendSchedule::IsFast(nMode))
        return FastStep();
    return ReplayStep(nNow);
}

bool SendWorker::TimedStep(int64_t nNow)
{
    if (!CSendSchedule::IsDue(*m_settings.mode, nNow, m_nLastSend))
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
    if (!m_pIndex)
        return false;
    // After the clock was set back, the second is handled at the next tick.
    if (CSendSchedule::CheckReplay(nNow, m_nLastSend) != CSendSchedule::ReplayCheck::kNewSecond)
        return true;
    const CDateTime when(nNow);
    const auto found = m_pIndex->find(CTimeOfDay::KeyOf(when));
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
