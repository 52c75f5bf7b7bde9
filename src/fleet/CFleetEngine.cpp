#include "fleet/CFleetEngine.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "base/CFraction.h"
#include "base/CThreadStarter.h"
#include "fleet/CReplyMatcher.h"
#include "schedule/CSendSchedule.h"
#include "time/CDateTime.h"
#include "time/CTimeOfDay.h"
#include "traffic/CCorruption.h"

namespace {

const char kTimePattern[] = "%Y-%m-%d %H:%M:%S";

}  // namespace

CFleetEngine::CFleetEngine(const CFleetPlan& plan, const Settings& settings, CFleetClock& clock, CFleetSink& sink,
                           CFleetStats& stats, CReplyMatcher* pMatcher)
    : m_plan(plan),
      m_settings(settings),
      m_nMode(plan.GetSettings().nMode),
      m_bCaptureTime(plan.GetSettings().bCaptureTime),
      m_clock(clock),
      m_sink(sink),
      m_stats(stats),
      m_pMatcher(pMatcher),
      m_devices(settings.nDevices),
      m_pTraffic(settings.pTraffic),
      m_pPace(settings.pPace),
      m_sleeps(std::make_unique<std::atomic<uint64_t>[]>(static_cast<size_t>(settings.nThreads))),
      m_asleep(std::make_unique<std::atomic<bool>[]>(static_cast<size_t>(settings.nThreads))),
      m_seenSleeps(static_cast<size_t>(settings.nThreads), 0)
{
    if (m_pTraffic) {
        m_traffic.resize(settings.nDevices);
        m_states.assign(static_cast<size_t>(settings.nDevices) * m_pTraffic->States(), std::nan(""));
    }
}

CFleetEngine::~CFleetEngine()
{
    Stop();
    Wait();
}

CStatus CFleetEngine::Start()
{
    m_nStartNs = m_clock.NowNs();
    m_stats.SetDevices(m_settings.nDevices);
    for (int i = 0; i < m_settings.nThreads; ++i) {
        std::unique_ptr<std::thread> pThread;
        const CStatus started = CThreadStarter::Start([this, i] { RunThread(i); }, pThread);
        if (!started.IsOk()) {
            Stop();
            Wait();
            return CStatus::Error("cannot start the fleet's scheduler threads: " + started.Message(), started.Code());
        }
        m_threads.push_back(std::move(pThread));
    }
    return CStatus();
}

bool CFleetEngine::Saturated()
{
    bool bSaturated = false;
    for (size_t i = 0; i < m_seenSleeps.size(); ++i) {
        const uint64_t nSleeps = m_sleeps[i].load(std::memory_order_relaxed);
        bSaturated = bSaturated || (nSleeps == m_seenSleeps[i] && !m_asleep[i].load(std::memory_order_relaxed));
        m_seenSleeps[i] = nSleeps;
    }
    return bSaturated;
}

void CFleetEngine::Wait()
{
    for (const std::unique_ptr<std::thread>& pThread : m_threads)
        pThread->join();
    m_threads.clear();
}

int64_t CFleetEngine::OffsetNs(uint32_t nDevice) const
{
    if (m_pPace)
        return m_pPace->SlotNs(Global(nDevice), 0);
    return m_settings.bSpread ? CSendSchedule::SpreadOffsetNs(m_nMode, Global(nDevice), m_settings.nFleetDevices)
                              : 0;
}

int64_t CFleetEngine::OnlineNs(const Worker& worker, uint32_t nDevice) const
{
    return m_nStartNs + worker.nFastShiftNs +
           static_cast<int64_t>(
               CFraction::Of(static_cast<uint64_t>(m_settings.nRampNs), Global(nDevice), m_settings.nFleetDevices));
}

int64_t CFleetEngine::FastDeadline(const Worker& worker, uint32_t nDevice) const
{
    return CSendSchedule::FastInstantNs(m_nMode, OnlineNs(worker, nDevice) + OffsetNs(nDevice),
                                        m_devices[nDevice].nCursor);
}

void CFleetEngine::RunThread(int nIndex)
{
    m_clock.PrepareThread(nIndex);
    Worker worker;
    const auto later = std::greater<Due>();
    bool bParked = false;
    for (uint32_t k = static_cast<uint32_t>(nIndex); k < m_settings.nDevices;
         k += static_cast<uint32_t>(m_settings.nThreads)) {
        const int64_t nOffsetNs = m_settings.nRampNs > 0 ? 0 : OffsetNs(k);
        // A pace that never comes: the device waits for the stop.
        if (nOffsetNs == CRateCurve::kNever) {
            Park(k);
            bParked = true;
            continue;
        }
        worker.heap.push_back(Due{m_settings.nRampNs > 0 ? OnlineNs(worker, k) : m_nStartNs + nOffsetNs, k});
    }
    std::make_heap(worker.heap.begin(), worker.heap.end(), later);
    if (m_pTraffic)
        worker.generated.resize(m_pTraffic->Rules());
    if (m_pPace)
        worker.nCurvePoints = m_pPace->Curve().Points();
    while ((!worker.heap.empty() || !worker.held.Empty()) && !m_clock.Stopped()) {
        if (m_pPace && m_pPace->Curve().Points() != worker.nCurvePoints)
            Repace(worker);
        const int64_t nNow = m_clock.NowNs();
        const int64_t nTopNs = worker.heap.empty() ? kNever : worker.heap.front().nNs;
        const int64_t nHeldNs = worker.held.NextNs();
        const int64_t nDueNs = std::min(nTopNs, nHeldNs);
        if (nDueNs > nNow) {
            // Wake-ups are what costs (a context switch each): many devices
            // close together are woken at once on a coarse grid, each a
            // little late rather than each with a wake-up of its own.
            const int64_t nWakeNs = nDueNs == kNever ? kNever : nDueNs + (kWakeGrainNs - 1) -
                                                                    (nDueNs + kWakeGrainNs - 1) % kWakeGrainNs;
            int64_t nSetByNs = 0;
            m_sleeps[nIndex].fetch_add(1, std::memory_order_relaxed);
            m_asleep[nIndex].store(true, std::memory_order_relaxed);
            const CFleetClock::Wake wake = m_clock.SleepUntil(nIndex, nWakeNs, nSetByNs);
            m_asleep[nIndex].store(false, std::memory_order_relaxed);
            if (wake == CFleetClock::Wake::kStopped)
                break;
            if (wake == CFleetClock::Wake::kClockSet) {
                const int64_t nSetNow = m_clock.NowNs();
                worker.nFastShiftNs += nSetByNs;
                worker.held.Shift(nSetByNs);
                for (Due& due : worker.heap)
                    due.nNs = m_pTraffic ? RescheduleTraffic(due.nDevice, due.nNs, nSetNow, nSetByNs)
                                         : Reschedule(due.nDevice, due.nNs, nSetNow, nSetByNs);
                std::make_heap(worker.heap.begin(), worker.heap.end(), later);
            }
            continue;
        }
        // The devices and the held datagrams go by their instants, one
        // order: a late thread catching up sends what was due first first.
        if (nHeldNs <= nTopNs) {
            SendHeld(worker);
            continue;
        }
        const Due top = worker.heap.front();
        std::pop_heap(worker.heap.begin(), worker.heap.end(), later);
        worker.heap.pop_back();
        const int64_t nNext =
            m_pTraffic ? HandleTraffic(worker, top.nDevice, top.nNs) : Handle(worker, top.nDevice, top.nNs);
        if (nNext != kNever) {
            worker.heap.push_back(Due{nNext, top.nDevice});
            std::push_heap(worker.heap.begin(), worker.heap.end(), later);
        } else if (m_devices[top.nDevice].nPhase == kParked) {
            bParked = true;
        }
    }
    // What the link still holds when the run is stopped is never sent; it is
    // counted so.
    if (m_settings.pFaults)
        m_settings.pFaults->AddHeldAtStop(worker.held.Size());
    // Parked devices keep the run going until it is stopped, as one device
    // that cannot go on does. A thread done with its devices is not busy.
    m_asleep[nIndex].store(true, std::memory_order_relaxed);
    int64_t nSetByNs = 0;
    while (bParked && m_clock.SleepUntil(nIndex, kNever, nSetByNs) != CFleetClock::Wake::kStopped) {
    }
    m_nThreadsDone.fetch_add(1);
}

int64_t CFleetEngine::Handle(Worker& worker, uint32_t nDevice, int64_t nDueNs)
{
    Device& device = m_devices[nDevice];
    const int64_t nNow = m_clock.NowNs();
    if (device.nPhase == kInfo) {
        CMessageTemplate::Values values = m_plan.ValuesOf(Global(nDevice));
        if (!m_pTraffic || InfoOnline(nDevice, nDueNs)) {
            Send(worker, nDevice, m_plan.DeviceInfo(), values, nDueNs);
            m_stats.DeviceOnline();
        }
        device.nPhase = kRunning;
        if (m_pPace) {
            // Its first slot from the instant it came online.
            const int64_t nInfoRunNs = nDueNs - m_nStartNs - worker.nFastShiftNs;
            return PacedInstant(worker, nDevice, m_pPace->SlotAfter(Global(nDevice), nInfoRunNs - 1));
        }
        if (m_bCaptureTime) {
            const int64_t nFirst = CaptureDeadline(worker, nDevice);
            return nFirst == kNever ? End(nDevice) : nFirst;
        }
        if (CSendSchedule::IsReplay(m_nMode) && !m_plan.HasIndex())
            return End(nDevice);
        if (!CSendSchedule::IsTimed(m_nMode) && !CSendSchedule::IsFast(m_nMode) && !CSendSchedule::IsReplay(m_nMode))
            return Park(nDevice);
        if (CSendSchedule::IsFast(m_nMode))
            return FastDeadline(worker, nDevice);
        const int64_t nFirstCheckNs = m_nStartNs + CSendSchedule::kFirstCheckNs + OffsetNs(nDevice);
        if (m_settings.nRampNs > 0)
            return std::max(nFirstCheckNs, OnlineNs(worker, nDevice) + CSendSchedule::kFirstCheckNs);
        return nFirstCheckNs;
    }
    if (m_bCaptureTime)
        return CaptureStep(worker, nDevice, nDueNs, nNow);
    if (m_pPace)
        return PacedStep(worker, nDevice, nDueNs, nNow);
    if (CSendSchedule::IsTimed(m_nMode))
        return TimedStep(worker, nDevice, nDueNs, nNow);
    if (CSendSchedule::IsFast(m_nMode))
        return FastStep(worker, nDevice, nDueNs);
    return ReplayStep(worker, nDevice, nDueNs, nNow);
}

int64_t CFleetEngine::TimedStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow)
{
    Device& device = m_devices[nDevice];
    const int64_t nOffset = OffsetNs(nDevice);
    const int64_t nSecond = CSendSchedule::SecondOf(nNow - nOffset);
    if (CSendSchedule::IsDue(m_nMode, nSecond, device.nLast)) {
        if (!SendAtCursor(worker, nDevice, nDueNs, &TimeText(worker, CSendSchedule::SecondOf(nNow))))
            return Park(nDevice);
        device.nLast = nSecond;
        if (device.nCursor >= m_plan.Size() && !m_plan.GetSettings().bLoop)
            return End(nDevice);
    }
    return CSendSchedule::NextDueSecond(m_nMode, nSecond, device.nLast) * CSendSchedule::kNsPerSecond + nOffset;
}

bool CFleetEngine::SendAtCursor(Worker& worker, uint32_t nDevice, int64_t nDueNs, const std::string* pTime)
{
    Device& device = m_devices[nDevice];
    if (device.nCursor >= m_plan.Size())
        device.nCursor = 0;
    const CFleetPlan::Entry& entry = m_plan.At(device.nCursor);
    if (!entry.bUsable)
        return false;
    CMessageTemplate::Values values = m_plan.ValuesOf(Global(nDevice));
    values.nCounterStep = device.nSeq;
    if (pTime)
        values.time = *pTime;
    Send(worker, nDevice, entry.message, values, nDueNs);
    ++device.nCursor;
    ++device.nSeq;
    return true;
}

int64_t CFleetEngine::FastStep(Worker& worker, uint32_t nDevice, int64_t nDueNs)
{
    Device& device = m_devices[nDevice];
    if (device.nCursor >= m_plan.Size())
        return End(nDevice);
    const CFleetPlan::Entry& entry = m_plan.At(device.nCursor);
    if (!entry.bUsable)
        return Park(nDevice);
    CMessageTemplate::Values values = m_plan.ValuesOf(Global(nDevice));
    values.nCounterStep = device.nSeq;
    Send(worker, nDevice, entry.message, values, nDueNs);
    ++device.nCursor;
    ++device.nSeq;
    if (device.nCursor >= m_plan.Size())
        return End(nDevice);
    return FastDeadline(worker, nDevice);
}

int64_t CFleetEngine::PacedStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow)
{
    Device& device = m_devices[nDevice];
    const bool bFast = CSendSchedule::IsFast(m_nMode);
    if (!SendAtCursor(worker, nDevice, nDueNs, bFast ? nullptr : &TimeText(worker, CSendSchedule::SecondOf(nNow))))
        return Park(nDevice);
    // The fast modes send their packets once, as they do by their period.
    if (device.nCursor >= m_plan.Size() && (bFast || !m_plan.GetSettings().bLoop))
        return End(nDevice);
    // The next slot, or a later one where a change of rate moved it into
    // the past.
    const int64_t nSlotRunNs = nDueNs - m_nStartNs - worker.nFastShiftNs - CSendSchedule::kFirstCheckNs;
    return PacedInstant(worker, nDevice,
                        std::max(device.nSlot + 1, m_pPace->SlotAfter(Global(nDevice), nSlotRunNs)));
}

int64_t CFleetEngine::PacedInstant(const Worker& worker, uint32_t nDevice, uint64_t nSlot)
{
    m_devices[nDevice].nSlot = nSlot;
    const int64_t nRunNs = m_pPace->SlotNs(Global(nDevice), nSlot);
    if (nRunNs == CRateCurve::kNever)
        return Park(nDevice);
    return m_nStartNs + worker.nFastShiftNs + nRunNs + CSendSchedule::kFirstCheckNs;
}

void CFleetEngine::Repace(Worker& worker)
{
    worker.nCurvePoints = m_pPace->Curve().Points();
    for (Due& due : worker.heap) {
        const Device& device = m_devices[due.nDevice];
        // The others place their first slot when their device info message
        // goes, on the curve as it is then.
        if (device.nPhase != kRunning)
            continue;
        const int64_t nSlotNs = PacedInstant(worker, due.nDevice, device.nSlot);
        if (!m_pTraffic) {
            due.nNs = nSlotNs;
            continue;
        }
        Traffic& traffic = m_traffic[due.nDevice];
        traffic.nNextNs = nSlotNs;
        due.nNs = traffic.bOffline && nSlotNs != kNever ? std::min(nSlotNs, traffic.nReturnNs) : nSlotNs;
    }
    std::make_heap(worker.heap.begin(), worker.heap.end(), std::greater<Due>());
}

int64_t CFleetEngine::ReplayStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow)
{
    Device& device = m_devices[nDevice];
    const int64_t nSecond = CSendSchedule::SecondOf(nNow - OffsetNs(nDevice));
    // A clock set back: this second is handled again, at once.
    if (CSendSchedule::CheckReplay(nSecond, device.nLast) == CSendSchedule::ReplayCheck::kSameSecond)
        return ReplayNext(nDevice, nSecond + 1);
    const CDateTime when(nSecond);
    const int64_t nKey = CTimeOfDay::KeyOf(when);
    const uint64_t nGlobal = Global(nDevice);
    const CFleetPlan::ReplayItem* pEnd = m_plan.ReplayEnd(nGlobal);
    const CFleetPlan::ReplayItem* pItem = std::lower_bound(
        m_plan.ReplayBegin(nGlobal), pEnd, nKey,
        [](const CFleetPlan::ReplayItem& item, int64_t nValue) { return item.nKey < nValue; });
    for (; pItem != pEnd && pItem->nKey == nKey; ++pItem) {
        const CFleetPlan::Entry& entry = m_plan.At(pItem->nEntry);
        // A message that cannot be stamped is passed over; the rest still go.
        if (!entry.bUsable)
            continue;
        CMessageTemplate::Values values = m_plan.ValuesOf(nGlobal);
        values.nCounterStep = device.nSeq;
        values.time = TimeText(worker, nSecond);
        Send(worker, nDevice, entry.message, values, nDueNs);
        ++device.nSeq;
    }
    device.nLast = nSecond;
    return ReplayNext(nDevice, nSecond + 1);
}

int64_t CFleetEngine::ReplayNext(uint32_t nDevice, int64_t nSecond)
{
    const uint64_t nGlobal = Global(nDevice);
    const int64_t* pKeys = m_plan.KeysBegin(nGlobal);
    const int64_t nNext = CSendSchedule::NextReplaySecond(pKeys, static_cast<size_t>(m_plan.KeysEnd(nGlobal) - pKeys),
                                                           nSecond);
    if (nNext == CSendSchedule::kNever)
        return Park(nDevice);
    return nNext * CSendSchedule::kNsPerSecond + OffsetNs(nDevice);
}

int64_t CFleetEngine::CaptureDeadline(const Worker& worker, uint32_t nDevice) const
{
    const uint64_t nGlobal = Global(nDevice);
    const CFleetPlan::ReplayItem* pItem = m_plan.ReplayBegin(nGlobal) + m_devices[nDevice].nCursor;
    if (pItem >= m_plan.ReplayEnd(nGlobal))
        return kNever;
    return m_nStartNs + worker.nFastShiftNs + CSendSchedule::kFirstCheckNs + pItem->nKey;
}

int64_t CFleetEngine::CaptureStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow)
{
    Device& device = m_devices[nDevice];
    const uint64_t nGlobal = Global(nDevice);
    const CFleetPlan::ReplayItem* const pEnd = m_plan.ReplayEnd(nGlobal);
    // Everything due by now goes, in capture order.
    for (int64_t nAt = nDueNs; nAt <= nNow; nAt = CaptureDeadline(worker, nDevice)) {
        const CFleetPlan::ReplayItem* pItem = m_plan.ReplayBegin(nGlobal) + device.nCursor;
        if (pItem >= pEnd)
            break;
        const CFleetPlan::Entry& entry = m_plan.At(pItem->nEntry);
        if (!entry.bUsable)
            return Park(nDevice);
        CMessageTemplate::Values values = m_plan.ValuesOf(nGlobal);
        values.nCounterStep = device.nSeq;
        values.time = TimeText(worker, CSendSchedule::SecondOf(nNow));
        Send(worker, nDevice, entry.message, values, nAt);
        ++device.nCursor;
        ++device.nSeq;
    }
    const int64_t nNext = CaptureDeadline(worker, nDevice);
    return nNext == kNever ? End(nDevice) : nNext;
}

int64_t CFleetEngine::Reschedule(uint32_t nDevice, int64_t nOldNs, int64_t nNow, int64_t nShiftNs)
{
    Device& device = m_devices[nDevice];
    // A ramp's instants move with the clock; without one, the device info
    // message goes at once when its instant was passed.
    if (device.nPhase == kInfo)
        return m_settings.nRampNs > 0 ? nOldNs + nShiftNs : std::min(nOldNs, nNow);
    if (CSendSchedule::IsFast(m_nMode) || m_bCaptureTime || m_pPace)
        return nOldNs + nShiftNs;
    const int64_t nOffset = OffsetNs(nDevice);
    const int64_t nSecond = CSendSchedule::SecondOf(nNow - nOffset);
    if (CSendSchedule::IsTimed(m_nMode))
        return CSendSchedule::NextDueSecond(m_nMode, nSecond, device.nLast) * CSendSchedule::kNsPerSecond +
               nOffset;
    // Set back out of a later second: this one is handled again, as by one
    // device, whose last tick was in that later second.
    if (CSendSchedule::SecondOf(nNow - nShiftNs - nOffset) > nSecond)
        device.nLast = nSecond - 1;
    return ReplayNext(nDevice, nSecond > device.nLast ? nSecond : nSecond + 1);
}

void CFleetEngine::Send(Worker& worker, uint32_t nDevice, const CMessageTemplate& message,
                        CMessageTemplate::Values& values, int64_t nDueNs)
{
    if (m_pTraffic && &message != &m_plan.DeviceInfo()) {
        SendPacket(worker, nDevice, message, values, nDueNs);
        return;
    }
    const size_t nCapacity = message.Capacity(values);
    if (worker.buffer.size() < nCapacity)
        worker.buffer.resize(nCapacity);
    const size_t nLength = message.Write(values, worker.buffer.data());
    Transmit(nDevice, worker.buffer.data(), nLength, nDueNs, MatchKey(message, values));
}

std::optional<uint64_t> CFleetEngine::MatchKey(const CMessageTemplate& message,
                                               const CMessageTemplate::Values& values) const
{
    return m_pMatcher != nullptr ? m_pMatcher->KeyOf(message, values) : std::nullopt;
}

void CFleetEngine::Transmit(uint32_t nDevice, const char* pData, size_t nLength, int64_t nIntendedNs,
                            std::optional<uint64_t> matchKey)
{
    const int64_t nNow = m_clock.NowNs();
    // Outstanding before it leaves: its reply may come before the send returns.
    const bool bTracked = m_pMatcher != nullptr && m_pMatcher->Expect(nDevice, matchKey, nNow);
    const bool bSent = m_sink.Send(nDevice, pData, nLength);
    m_stats.RecordSend(bSent, nNow - nIntendedNs);
    if (m_pMatcher != nullptr)
        m_pMatcher->Settle(nDevice, bTracked, bSent);
}

int64_t CFleetEngine::HandleTraffic(Worker& worker, uint32_t nDevice, int64_t nDueNs)
{
    Traffic& traffic = m_traffic[nDevice];
    // Back before the schedule's next instant: the device info message now.
    if (traffic.bOffline && nDueNs >= traffic.nReturnNs && nDueNs < traffic.nNextNs) {
        ComeBack(worker, nDevice, nDueNs);
        return traffic.nNextNs;
    }
    const int64_t nNext = Handle(worker, nDevice, nDueNs);
    traffic.nNextNs = nNext;
    return traffic.bOffline && nNext != kNever ? std::min(nNext, traffic.nReturnNs) : nNext;
}

int64_t CFleetEngine::RescheduleTraffic(uint32_t nDevice, int64_t nOldNs, int64_t nNow, int64_t nShiftNs)
{
    Traffic& traffic = m_traffic[nDevice];
    if (!traffic.bOffline)
        return Reschedule(nDevice, nOldNs, nNow, nShiftNs);
    traffic.nNextNs = Reschedule(nDevice, traffic.nNextNs, nNow, nShiftNs);
    if (traffic.nReturnNs != kNever)
        traffic.nReturnNs += nShiftNs;
    return std::min(traffic.nNextNs, traffic.nReturnNs);
}

void CFleetEngine::SendPacket(Worker& worker, uint32_t nDevice, const CMessageTemplate& message,
                              CMessageTemplate::Values& values, int64_t nDueNs)
{
    // The packet's index: the device's packets so far, those it missed
    // while offline and those the link lost included.
    const uint64_t nPacket = values.nCounterStep;
    const uint64_t nGlobal = Global(nDevice);
    const int64_t nRunNs = RunNs(worker, nDevice, nPacket, nDueNs);
    if (!PacketOnline(worker, nDevice, nRunNs, nDueNs)) {
        m_settings.pFaults->Add(CFaultCounts::kOffline);
        return;
    }
    if (m_pTraffic->Rules() > 0) {
        m_pTraffic->Values(nGlobal, nPacket, nRunNs, m_states.data() + nDevice * m_pTraffic->States(),
                           worker.generated.data());
        values.pGenerated = worker.generated.data();
    }
    const size_t nCapacity = message.Capacity(values);
    if (worker.buffer.size() < nCapacity)
        worker.buffer.resize(nCapacity);
    char* const pData = worker.buffer.data();
    size_t nLength = message.Write(values, pData);
    const CLinkFaults::Decision decision = m_pTraffic->Decide(nGlobal, nPacket, nRunNs, m_traffic[nDevice].model);
    CFaultStats& faults = *m_settings.pFaults;
    if (decision.bDrop) {
        faults.Add(CFaultCounts::kLoss);
        return;
    }
    if (decision.nCorrupt != CLinkFaults::kNoCorruption) {
        nLength = CCorruption::Apply(decision.nCorrupt, decision.nCorruptBits, pData, nLength);
        faults.Add(CFaultCounts::kCorrupt);
    }
    if (decision.bJittered)
        faults.Add(CFaultCounts::kJitter);
    if (decision.bReordered)
        faults.Add(CFaultCounts::kReorder);
    // Now, or held back to its own instant.
    const std::optional<uint64_t> matchKey = MatchKey(message, values);
    const auto sendAt = [&](int64_t nAtNs) {
        if (nAtNs > nDueNs)
            worker.held.Hold(nDevice, pData, nLength, nAtNs, matchKey);
        else
            Transmit(nDevice, pData, nLength, nDueNs, matchKey);
    };
    const int64_t nSendNs = nDueNs + decision.nDelayNs;
    sendAt(nSendNs);
    if (decision.bDuplicate) {
        faults.Add(CFaultCounts::kDuplicate);
        sendAt(nSendNs + decision.nCopyDelayNs);
    }
}

bool CFleetEngine::InfoOnline(uint32_t nDevice, int64_t nDueNs)
{
    const int64_t nRunNs = InfoRunNs(nDevice);
    const CTrafficModel::Gap gap = m_pTraffic->Offline(Global(nDevice), nRunNs, m_traffic[nDevice].model);
    if (gap.nCause == CTrafficModel::Cause::kOnline)
        return true;
    GoOffline(nDevice, gap, nRunNs, nDueNs, false);
    return false;
}

bool CFleetEngine::PacketOnline(Worker& worker, uint32_t nDevice, int64_t nRunNs, int64_t nDueNs)
{
    Traffic& traffic = m_traffic[nDevice];
    if (traffic.bOffline) {
        if (nRunNs < traffic.nReturnRunNs)
            return false;
        ComeBack(worker, nDevice, nDueNs);
    }
    const CTrafficModel::Gap gap = m_pTraffic->Offline(Global(nDevice), nRunNs, traffic.model);
    if (gap.nCause == CTrafficModel::Cause::kOnline)
        return true;
    GoOffline(nDevice, gap, nRunNs, nDueNs, true);
    return false;
}

void CFleetEngine::GoOffline(uint32_t nDevice, const CTrafficModel::Gap& gap, int64_t nRunNs, int64_t nDueNs,
                             bool bWasOnline)
{
    Traffic& traffic = m_traffic[nDevice];
    traffic.bOffline = true;
    traffic.nReturnRunNs = gap.nUntilNs;
    // Back as long after this instant as the gap lasts in run time.
    traffic.nReturnNs = gap.nUntilNs == kNever ? kNever : nDueNs + (gap.nUntilNs - nRunNs);
    if (gap.nCause == CTrafficModel::Cause::kOutage)
        m_settings.pFaults->Add(CFaultCounts::kOutage);
    else if (gap.nCause == CTrafficModel::Cause::kChurn)
        m_settings.pFaults->Add(CFaultCounts::kChurn);
    if (bWasOnline) {
        m_stats.DeviceOffline();
        m_sink.Offline(nDevice);
    }
}

void CFleetEngine::ComeBack(Worker& worker, uint32_t nDevice, int64_t nDueNs)
{
    m_traffic[nDevice].bOffline = false;
    CMessageTemplate::Values values = m_plan.ValuesOf(Global(nDevice));
    Send(worker, nDevice, m_plan.DeviceInfo(), values, nDueNs);
    m_stats.DeviceOnline();
}

void CFleetEngine::SendHeld(Worker& worker)
{
    const CHeldDatagrams::Held& held = worker.held.Top();
    Transmit(held.nDevice, worker.held.Data(held), held.nLength, held.nAtNs, held.matchKey);
    worker.held.Pop();
}

int64_t CFleetEngine::RunNs(const Worker& worker, uint32_t nDevice, uint64_t nPacket, int64_t nDueNs) const
{
    if (CSendSchedule::IsTimed(m_nMode) && !m_bCaptureTime && !m_pPace)
        return std::max(InfoRunNs(nDevice), OffsetNs(nDevice)) +
               static_cast<int64_t>(nPacket) * CSendSchedule::PeriodNs(m_nMode);
    return nDueNs - m_nStartNs - worker.nFastShiftNs;
}

int64_t CFleetEngine::InfoRunNs(uint32_t nDevice) const
{
    if (m_settings.nRampNs == 0)
        return OffsetNs(nDevice);
    return static_cast<int64_t>(
        CFraction::Of(static_cast<uint64_t>(m_settings.nRampNs), Global(nDevice), m_settings.nFleetDevices));
}

const std::string& CFleetEngine::TimeText(Worker& worker, int64_t nSecond)
{
    if (nSecond != worker.nTimeSecond) {
        worker.strTime = CDateTime(nSecond).Format(kTimePattern);
        worker.nTimeSecond = nSecond;
    }
    return worker.strTime;
}

int64_t CFleetEngine::End(uint32_t nDevice)
{
    m_devices[nDevice].nPhase = kEnded;
    m_stats.DeviceEnded();
    return kNever;
}

int64_t CFleetEngine::Park(uint32_t nDevice)
{
    m_devices[nDevice].nPhase = kParked;
    return kNever;
}
