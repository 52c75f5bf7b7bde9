#include "fleet/CDtlsDevices.h"

#include <algorithm>
#include <chrono>

#include "base/CThreadStarter.h"
#include "dtls/CDtlsContext.h"
#include "fleet/CFleetClock.h"
#include "fleet/CFleetPlan.h"
#include "traffic/CRandom.h"

CDtlsDevices::CDtlsDevices(CDtlsContext& context, CFleetSink& sink, const CFleetPlan& plan, uint64_t nFirstDevice,
                           uint32_t nDevices, CFleetClock& clock, CHandshakeStats& stats)
    : m_context(context),
      m_sink(sink),
      m_plan(plan),
      m_nFirstDevice(nFirstDevice),
      m_clock(clock),
      m_stats(stats),
      m_devices(nDevices)
{
}

CDtlsDevices::~CDtlsDevices()
{
    Stop();
}

CStatus CDtlsDevices::Start()
{
    return CThreadStarter::Start([this] { RunTimers(); }, m_pTimers);
}

void CDtlsDevices::Stop()
{
    if (m_bStop.exchange(true))
        return;
    if (m_pTimers)
        m_pTimers->join();
    // The server may let go of what it keeps for each session at once.
    for (uint32_t j = 0; j < m_devices.size(); ++j) {
        std::lock_guard<std::mutex> lock(Stripe(j));
        Device& device = m_devices[j];
        if (device.pSession && device.pSession->Open()) {
            device.pSession->Close();
            m_stats.Closed();
        }
        DropHeld(device);
        device.pSession.reset();
    }
}

bool CDtlsDevices::Send(uint32_t nDevice, const char* pData, size_t nLength)
{
    std::lock_guard<std::mutex> lock(Stripe(nDevice));
    Device& device = m_devices[nDevice];
    if (device.pSession && device.pSession->Open())
        return device.pSession->Write(pData, nLength);
    // A session the library could not take up again is over: a new one.
    if (device.pSession && !device.pSession->Handshaking())
        Drop(device);
    if (!device.pSession && !Begin(nDevice, device, m_clock.NowNs())) {
        m_stats.Unsent(1);
        return false;
    }
    if (device.held.size() >= kMaxHeld) {
        m_stats.Unsent(1);
        return false;
    }
    device.held.emplace_back(pData, nLength);
    return true;
}

void CDtlsDevices::Offline(uint32_t nDevice)
{
    std::lock_guard<std::mutex> lock(Stripe(nDevice));
    Drop(m_devices[nDevice]);
}

void CDtlsDevices::Incoming(uint32_t nDevice, const char* pData, size_t nLength, int64_t nArrivalNs,
                            const CDtlsSession::OnData& onData)
{
    std::lock_guard<std::mutex> lock(Stripe(nDevice));
    Device& device = m_devices[nDevice];
    if (!device.pSession)
        return;
    switch (device.pSession->Feed(pData, nLength, onData)) {
    case CDtlsSession::Step::kOpened:
        Opened(device, nArrivalNs);
        break;
    case CDtlsSession::Step::kFailed:
        Failed(nDevice, device, nArrivalNs);
        break;
    case CDtlsSession::Step::kClosed:
        // The server ended it: the next datagram resumes.
        Drop(device);
        break;
    case CDtlsSession::Step::kGoing:
        break;
    }
}

bool CDtlsDevices::Begin(uint32_t nDevice, Device& device, int64_t nNowNs)
{
    if (nNowNs < device.nRetryNs)
        return false;
    CDtlsSession::Link& link = *this;
    device.pSession = std::make_unique<CDtlsSession>(m_context, link, nDevice);
    device.nStartedNs = nNowNs;
    m_stats.Started();
    const CDtlsSession::Step step = device.pSession->Connect(&device.pSaved);
    if (step == CDtlsSession::Step::kFailed) {
        Failed(nDevice, device, nNowNs);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_handshakingLock);
    m_handshaking.push_back(nDevice);
    return true;
}

void CDtlsDevices::Opened(Device& device, int64_t nArrivalNs)
{
    CDtlsSession& session = *device.pSession;
    m_stats.Completed(nArrivalNs - device.nStartedNs, session.Resumed());
    device.nFailures = 0;
    for (const std::string& strHeld : device.held) {
        if (!session.Write(strHeld.data(), strHeld.size()))
            m_stats.Unsent(1);
    }
    std::vector<std::string>().swap(device.held);
}

void CDtlsDevices::Failed(uint32_t nDevice, Device& device, int64_t nNowNs)
{
    CDtlsSession& session = *device.pSession;
    m_stats.Failed(session.Cause());
    DropHeld(device);
    device.nLast = session.Cause();
    device.strLast = session.FailureText();
    ++device.nFailedTotal;
    ++device.nFailures;
    device.nRetryNs = nNowNs + BackoffNs(nDevice, device.nFailures);
    // What failed to resume is not tried again.
    device.pSaved.clear();
    device.pSession.reset();
}

void CDtlsDevices::Drop(Device& device)
{
    if (!device.pSession)
        return;
    if (device.pSession->Open()) {
        device.pSaved = device.pSession->Saved();
        m_stats.Closed();
    }
    DropHeld(device);
    device.pSession.reset();
}

void CDtlsDevices::DropHeld(Device& device)
{
    m_stats.Unsent(device.held.size());
    std::vector<std::string>().swap(device.held);
}

int64_t CDtlsDevices::BackoffNs(uint32_t nDevice, uint32_t nFailures) const
{
    const int nDoublings = static_cast<int>(std::min<uint32_t>(nFailures, 7)) - 1;
    const int64_t nFullNs = std::min(kMaxBackoffNs, kFirstBackoffNs << nDoublings);
    // A fixed draw per device and failure, from 1/2 to 1.
    const double dShare =
        0.5 + 0.5 * CRandom::Unit(CRandom::Bits(0, m_nFirstDevice + nDevice, nFailures, CRandom::kDtlsBackoff));
    return static_cast<int64_t>(static_cast<double>(nFullNs) * dShare);
}

void CDtlsDevices::RunTimers()
{
    std::vector<uint32_t> looking;
    while (!m_bStop.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kTimerGrainMs));
        {
            std::lock_guard<std::mutex> lock(m_handshakingLock);
            looking.insert(looking.end(), m_handshaking.begin(), m_handshaking.end());
            m_handshaking.clear();
        }
        const int64_t nNowNs = m_clock.NowNs();
        std::vector<uint32_t> still;
        for (const uint32_t j : looking) {
            std::lock_guard<std::mutex> lock(Stripe(j));
            Device& device = m_devices[j];
            if (!device.pSession || !device.pSession->Handshaking())
                continue;
            if (device.pSession->TimerDue() && device.pSession->OnTimer(m_stats) == CDtlsSession::Step::kFailed) {
                Failed(j, device, nNowNs);
                continue;
            }
            still.push_back(j);
        }
        looking.swap(still);
    }
}

std::vector<CDtlsDevices::Failing> CDtlsDevices::MostFailing(size_t nMost) const
{
    std::vector<Failing> failing;
    for (uint32_t j = 0; j < m_devices.size(); ++j) {
        std::lock_guard<std::mutex> lock(Stripe(j));
        const Device& device = m_devices[j];
        if (device.nFailedTotal != 0)
            failing.push_back({j, device.nFailedTotal, device.nLast, device.strLast});
    }
    const size_t nKept = std::min(nMost, failing.size());
    std::partial_sort(failing.begin(), failing.begin() + static_cast<ptrdiff_t>(nKept), failing.end(),
                      [](const Failing& a, const Failing& b) {
                          return a.nFailures != b.nFailures ? a.nFailures > b.nFailures : a.nDevice < b.nDevice;
                      });
    failing.resize(nKept);
    return failing;
}

bool CDtlsDevices::SendDatagram(uint32_t nTag, const char* pData, size_t nLength)
{
    return m_sink.Send(nTag, pData, nLength);
}

bool CDtlsDevices::PskFor(uint32_t nTag, std::string& strIdentity, std::string& strKey)
{
    return m_context.Keys().ForDevice(m_plan.ImeiText(m_nFirstDevice + nTag), m_nFirstDevice + nTag, strIdentity,
                                      strKey);
}

bool CDtlsDevices::CertFor(uint32_t nTag, std::string& strCert, std::string& strKey)
{
    const std::string strImei = m_plan.ImeiText(m_nFirstDevice + nTag);
    strCert = m_context.Settings().strCert + "/" + strImei + ".crt";
    strKey = m_context.Settings().strKey + "/" + strImei + ".key";
    return true;
}
