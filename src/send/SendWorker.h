#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "packet/CDeviceMessage.h"
#include "packet/PacketList.h"
#include "packet/TimeIndex.h"
#include "schedule/SendModes.h"
#include "send/SendSettings.h"

class CDatagramSink;
class CSendClock;
class CSendNotify;

// One run of sending: the device info message first, then ticks (sleep, clock
// read, tick notice, the mode's step, running-flag test) until the flag is
// cleared or the mode runs out of packets (a flag cleared during the sleep
// ends the run as soon as the sleep sees it, with no further step); then the
// packets and the index are released and OnSendEnd is called as the very
// last act. At each tick the schedule (CSendSchedule) says whether the
// mode's packet is due.
//
// Owns the packets and the index from construction. Run() is the body of the
// worker's thread; the clock, sink and notify objects and the running flag
// are not owned and must outlive Run(). The flag is the only thing another
// thread may change during the run.
class SendWorker {
public:
    SendWorker(SendSettings settings, std::unique_ptr<PacketList> pPackets, std::unique_ptr<TimeIndex> pIndex,
               const std::atomic<bool>& bRunning, CSendClock& clock, CDatagramSink& sink, CSendNotify& notify);

    void Run();

private:
    // Each answers false when the run must end.
    bool Step(int64_t nNow);
    bool TimedStep(int64_t nNow);
    bool FastStep();
    bool ReplayStep(int64_t nNow);
    void SendBytes(const char* pData, size_t nLength);

    SendSettings m_settings;
    std::unique_ptr<PacketList> m_pPackets;
    std::unique_ptr<TimeIndex> m_pIndex;
    const std::atomic<bool>& m_bRunning;
    CSendClock& m_clock;
    CDatagramSink& m_sink;
    CSendNotify& m_notify;
    CDeviceMessage m_message;
    std::string m_strText;

    size_t m_nCursor = 0;
    int64_t m_nLastSend = 0;
    int m_nInterval = SendModes::kFirstTickMs;
};
