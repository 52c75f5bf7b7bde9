#include "send/CSendRun.h"

#include <utility>

#include "send/CSendClock.h"
#include "send/CSocketSink.h"
#include "send/SendWorker.h"

CSendRun::CSendRun(SocketHandle hSocket, CSendClock& clock, CThreadStarter::Function startThread)
    : m_pSocketSink(std::make_unique<CSocketSink>(hSocket)), m_clock(clock), m_startThread(std::move(startThread))
{
}

CSendRun::~CSendRun()
{
    Stop();
}

CDatagramSink& CSendRun::SocketSink()
{
    return *m_pSocketSink;
}

CStatus CSendRun::Start(SendSettings settings, std::unique_ptr<PacketList> pPackets, std::unique_ptr<TimeIndex> pIndex,
                        CSendNotify& notify, CDatagramSink* pSink)
{
    Stop();
    m_bRunning.store(true);
    m_pWorker = std::make_unique<SendWorker>(std::move(settings), std::move(pPackets), std::move(pIndex), m_bRunning,
                                             m_clock, pSink != nullptr ? *pSink : *m_pSocketSink, notify);
    const CStatus started = m_startThread([pWorker = m_pWorker.get()] { pWorker->Run(); }, m_pThread);
    if (started.IsOk())
        return started;
    m_bRunning.store(false);
    m_pWorker.reset();
    return started;
}

void CSendRun::Stop()
{
    m_bRunning.store(false);
    m_clock.Wake();
    if (m_pThread) {
        m_pThread->join();
        m_pThread.reset();
    }
    m_pWorker.reset();
}
