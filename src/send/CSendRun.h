#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "base/CStatus.h"
#include "base/CThreadStarter.h"
#include "net/SocketTypes.h"
#include "packet/PacketList.h"
#include "packet/TimeIndex.h"
#include "send/SendSettings.h"

class CDatagramSink;
class CSendClock;
class CSendNotify;
class CSocketSink;
class SendWorker;

// Starts and stops the runs of one front end, one at a time: the worker gets
// the settings as they are at the start, the packets and the index, and runs
// on a thread of its own, sending through a sink on the endpoint's socket;
// the running flag is the only thing shared with it during the run. Stop
// clears the flag, wakes the worker from its tick's sleep and joins it; the
// worker has then released the packets and given its end notice.
//
// One thread (the front end's) calls every operation. The clock, the notify
// object and any sink given to Start are not owned and must outlive the run
// (that is, the next Stop).
class CSendRun {
public:
    // hSocket: the endpoint's socket, which every datagram leaves through;
    // startThread makes the worker's thread.
    CSendRun(SocketHandle hSocket, CSendClock& clock, CThreadStarter::Function startThread = CThreadStarter::Start);
    ~CSendRun();
    CSendRun(const CSendRun&) = delete;
    CSendRun& operator=(const CSendRun&) = delete;

    // Starts the worker; pSink, when given, takes the datagrams instead of
    // the socket sink (a sink that passes them on to SocketSink()). Fails,
    // with the system's reason, when no thread can be created: nothing is
    // left running and the packets are released.
    [[nodiscard]] CStatus Start(SendSettings settings, std::unique_ptr<PacketList> pPackets,
                                std::unique_ptr<TimeIndex> pIndex, CSendNotify& notify,
                                CDatagramSink* pSink = nullptr);
    // Clears the running flag, wakes the worker and joins it; nothing when no
    // run is on.
    void Stop();

    // A worker thread exists (it may have ended by itself: Stop joins it).
    bool IsRunning() const { return m_pThread != nullptr; }
    CDatagramSink& SocketSink();

private:
    std::unique_ptr<CSocketSink> m_pSocketSink;
    CSendClock& m_clock;
    CThreadStarter::Function m_startThread;
    std::atomic<bool> m_bRunning{false};
    std::unique_ptr<SendWorker> m_pWorker;
    std::unique_ptr<std::thread> m_pThread;
};
