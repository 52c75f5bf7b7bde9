#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/CStatus.h"
#include "fleet/CFleetClock.h"
#include "fleet/CFleetPlan.h"
#include "fleet/CFleetSink.h"
#include "figures/CFleetStats.h"
#include "figures/CFaultStats.h"
#include "fleet/CHeldDatagrams.h"
#include "fleet/CPace.h"
#include "traffic/CTrafficModel.h"

class CReplyMatcher;

// Runs the devices of a fleet (or of one shard of it) on a few scheduler
// threads. Each thread owns the devices k with k mod threads equal to its
// index and keeps their next instants in a heap; it sleeps on the clock to
// the earliest, handles every device that is due, and goes on until all its
// devices have ended. A device sends its device info message at the start
// plus its spread offset, then the packets as the mode says (CSendSchedule).
// With a ramp, device k of N (its global index, so that shards ramp as one
// fleet) comes online, sending its device info message, at the start plus
// k/N of the ramp instead; its packets follow from there: the fast modes'
// deadlines counted from that instant plus the spread offset, the other
// modes' first check at the later of that instant and the spread offset (each
// plus the first check's delay), so a spread device still sends in its own
// place of the period.
// With traffic (a CTrafficModel), a packet's datagram gets its generated
// values and passes the link's faults: dropped, corrupted, held back to an
// instant of its own (on a heap beside the devices', woken for as they are,
// its lateness measured against that instant) or copied; the device info
// message passes untouched. The devices and the held datagrams of a thread
// are served in the order of their instants, so that a thread catching up
// keeps the order the faults gave. What is still held when the run is
// stopped is never sent, and counted (CFaultStats). A device that is offline when a packet is due
// sends nothing (its schedule goes on; the sink hears that it went
// offline), and when it is back first sends its device info message again,
// as a device that restarted.
// Paced by an interval or a rate (CPace), a device sends its packets at the
// pace's instants from the first check after it came online, rewritten and
// looped as its mode says.
// A device that reaches a packet it cannot write stops there without ending,
// as one device does; so does a replay device without messages at any time
// of day. By the capture's timing, a device sends its messages once at the
// instants the plan gives after the first check, then ends.
//
// The plan, clock, sink, stats and matcher are not owned and must outlive
// the engine.
// Start, Stop, Wait and Finished are for one controlling thread; Stop may
// also come from another thread. The destructor stops and joins.
class CFleetEngine {
public:
    struct Settings {
        uint64_t nFleetDevices = 1;  // N, the whole fleet
        uint64_t nFirstDevice = 0;   // the global index of local device 0
        uint32_t nDevices = 1;       // the devices of this engine
        bool bSpread = false;
        int nThreads = 1;
        int64_t nRampNs = 0;  // 0: every device online at the start
        // Generated values, faults and dropouts; none when null. Not owned.
        const CTrafficModel* pTraffic = nullptr;
        CFaultStats* pFaults = nullptr;
        // Packets paced by an interval or a rate instead of the mode's
        // period (the mode still says how they are rewritten and whether
        // they loop); the mode's when null. Not owned.
        const CPace* pPace = nullptr;
    };

    // The grid the scheduler threads wake on: at most this much lateness
    // for far fewer wake-ups when devices are close together.
    static constexpr int64_t kWakeGrainNs = 500000;

    // pMatcher, when given, is told of every datagram before it is sent
    // (with the clock's reading then), for replies to be matched to it.
    CFleetEngine(const CFleetPlan& plan, const Settings& settings, CFleetClock& clock, CFleetSink& sink,
                 CFleetStats& stats, CReplyMatcher* pMatcher = nullptr);
    ~CFleetEngine();
    CFleetEngine(const CFleetEngine&) = delete;
    CFleetEngine& operator=(const CFleetEngine&) = delete;

    // Fails when a scheduler thread cannot be started; those that were are
    // stopped and joined.
    CStatus Start();
    void Stop() { m_clock.Stop(); }
    void Wait();
    // Every scheduler thread has ended: all devices ended, or stopped.
    bool Finished() const { return m_nThreadsDone.load() == m_settings.nThreads; }
    // Whether a scheduler thread has been busy since the last call, never
    // once going to sleep: it cannot keep up with its devices. For one
    // caller, once a second.
    bool Saturated();

private:
    enum Phase : uint8_t { kInfo, kRunning, kEnded, kParked };

    struct Device {
        int64_t nLast = 0;   // timed: the last send's second; replay: the last second handled
        uint64_t nSeq = 0;   // packet datagrams sent: the counter's step
        uint32_t nCursor = 0;
        Phase nPhase = kInfo;
        uint64_t nSlot = 0;  // paced: the slot of its next packet
    };

    struct Due {
        int64_t nNs;
        uint32_t nDevice;
        bool operator>(const Due& other) const { return nNs > other.nNs; }
    };

    // Per scheduler thread.
    struct Worker {
        std::vector<Due> heap;
        std::vector<char> buffer;
        int64_t nTimeSecond = INT64_MIN;
        std::string strTime;
        // Moves the fast modes' and the capture timing's deadlines and the
        // ramp's instants along when the clock is set.
        int64_t nFastShiftNs = 0;
        // With traffic: the datagrams its devices' links hold back, and a
        // datagram's generated values.
        CHeldDatagrams held;
        std::vector<CMessageTemplate::Generated> generated;
        // Paced: the rate curve's points when its devices' slots were last
        // placed.
        size_t nCurvePoints = 0;
    };

    // A device's traffic state (with traffic only).
    struct Traffic {
        CTrafficModel::Device model;
        bool bOffline = false;
        int64_t nReturnNs = 0;     // back on the clock then
        int64_t nReturnRunNs = 0;  // and in run time
        int64_t nNextNs = 0;       // its schedule's next instant
    };

    static constexpr int64_t kNever = INT64_MAX;

    void RunThread(int nIndex);
    // Handles a device at its instant; answers its next one, or kNever.
    int64_t Handle(Worker& worker, uint32_t nDevice, int64_t nDueNs);
    int64_t TimedStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow);
    int64_t FastStep(Worker& worker, uint32_t nDevice, int64_t nDueNs);
    int64_t PacedStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow);
    // Sends the packet at the device's cursor (from the first again after
    // the last) with "time" set to *pTime (the fast modes' own when null),
    // and moves on; false when that packet cannot be sent.
    bool SendAtCursor(Worker& worker, uint32_t nDevice, int64_t nDueNs, const std::string* pTime);
    // A paced device's next packet: the first check after its slot nSlot,
    // on the clock; a device whose pace never comes again is parked.
    int64_t PacedInstant(const Worker& worker, uint32_t nDevice, uint64_t nSlot);
    // The rate changed while the thread's devices waited for slots placed
    // on the curve before: each slot is placed again on the curve as it is
    // now, as if the change had been known all along (a step the run adds
    // as it goes, a capacity search's, then moves the devices as one
    // planned ahead does, without a burst or a gap).
    void Repace(Worker& worker);
    int64_t ReplayStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow);
    int64_t ReplayNext(uint32_t nDevice, int64_t nSecond);
    int64_t CaptureStep(Worker& worker, uint32_t nDevice, int64_t nDueNs, int64_t nNow);
    int64_t CaptureDeadline(const Worker& worker, uint32_t nDevice) const;
    // The instant a device is due again after the clock was set.
    int64_t Reschedule(uint32_t nDevice, int64_t nOldNs, int64_t nNow, int64_t nShiftNs);
    void Send(Worker& worker, uint32_t nDevice, const CMessageTemplate& message, CMessageTemplate::Values& values,
              int64_t nDueNs);
    // The key the matcher tracks a datagram by, if replies are matched.
    std::optional<uint64_t> MatchKey(const CMessageTemplate& message, const CMessageTemplate::Values& values) const;
    // One datagram to the sink, its lateness against nIntendedNs; the
    // matcher expects its reply from then on.
    void Transmit(uint32_t nDevice, const char* pData, size_t nLength, int64_t nIntendedNs,
                  std::optional<uint64_t> matchKey);

    // With traffic: the schedule's handling with the device's dropouts
    // around it.
    int64_t HandleTraffic(Worker& worker, uint32_t nDevice, int64_t nDueNs);
    int64_t RescheduleTraffic(uint32_t nDevice, int64_t nOldNs, int64_t nNow, int64_t nShiftNs);
    // A packet's datagram: values, the device's dropouts, the link's faults.
    void SendPacket(Worker& worker, uint32_t nDevice, const CMessageTemplate& message,
                    CMessageTemplate::Values& values, int64_t nDueNs);
    // Whether the device is online for its device info message (at its
    // online instant) or a packet at run time nRunNs; it may come back or go
    // offline there.
    bool InfoOnline(uint32_t nDevice, int64_t nDueNs);
    bool PacketOnline(Worker& worker, uint32_t nDevice, int64_t nRunNs, int64_t nDueNs);
    void GoOffline(uint32_t nDevice, const CTrafficModel::Gap& gap, int64_t nRunNs, int64_t nDueNs, bool bWasOnline);
    void ComeBack(Worker& worker, uint32_t nDevice, int64_t nDueNs);
    // The earliest held datagram, due now.
    void SendHeld(Worker& worker);
    // A packet's place in the run, as the schedule has it: the timed modes'
    // packet i at the device's first place plus i periods (whatever instant
    // of the period the run started at), the others' their instant after
    // the start.
    int64_t RunNs(const Worker& worker, uint32_t nDevice, uint64_t nPacket, int64_t nDueNs) const;
    int64_t InfoRunNs(uint32_t nDevice) const;
    const std::string& TimeText(Worker& worker, int64_t nSecond);
    int64_t End(uint32_t nDevice);
    int64_t Park(uint32_t nDevice);

    uint64_t Global(uint32_t nDevice) const { return m_settings.nFirstDevice + nDevice; }
    int64_t OffsetNs(uint32_t nDevice) const;
    // When a device comes online: the start plus its part of the ramp.
    int64_t OnlineNs(const Worker& worker, uint32_t nDevice) const;
    int64_t FastDeadline(const Worker& worker, uint32_t nDevice) const;

    const CFleetPlan& m_plan;
    const Settings m_settings;
    const SendModes::Mode m_nMode;
    const bool m_bCaptureTime;
    CFleetClock& m_clock;
    CFleetSink& m_sink;
    CFleetStats& m_stats;
    CReplyMatcher* const m_pMatcher;
    std::vector<Device> m_devices;
    const CTrafficModel* const m_pTraffic;
    const CPace* const m_pPace;
    std::vector<Traffic> m_traffic;
    // Each device's CTrafficModel::States() numbers.
    std::vector<double> m_states;
    std::vector<std::unique_ptr<std::thread>> m_threads;
    std::atomic<int> m_nThreadsDone{0};
    // Per scheduler thread: the sleeps it began, and whether it sleeps now
    // (or has ended); the sleeps Saturated saw last.
    std::unique_ptr<std::atomic<uint64_t>[]> m_sleeps;
    std::unique_ptr<std::atomic<bool>[]> m_asleep;
    std::vector<uint64_t> m_seenSleeps;
    int64_t m_nStartNs = 0;
};
