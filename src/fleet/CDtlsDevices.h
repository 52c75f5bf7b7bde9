#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <vector>

#include "base/CStatus.h"
#include "dtls/CDtlsSession.h"
#include "figures/CHandshakeStats.h"
#include "fleet/CFleetSink.h"

class CDtlsContext;
class CFleetClock;
class CFleetPlan;

// A fleet's devices talking DTLS: each device's datagrams go as records of
// its own session, on its own socket (the sink below). A device's first
// datagram (its device info message) starts the handshake and waits in it
// with whatever else falls due, up to kMaxHeld, until the session is open;
// a failed handshake drops them (counted unsent) and the device tries again
// with its next datagram after a back-off: 1 s after the first failure,
// doubling to 64 s, each drawn down by up to half for the device so that a
// fleet does not retry in step. Datagrams due while it waits are not sent
// (the sink answers false, and they are counted unsent). A device that goes
// offline drops its session as a restarting device would, keeping it to
// resume (an abbreviated handshake) when it comes back.
//
// Send and Offline come from the scheduler threads, Incoming from the reply
// reader's; a device's state is behind a lock of its own stripe. A thread of
// its own drives the handshakes' retransmissions. The context, sink, plan,
// clock and stats are not owned and must outlive it.
class CDtlsDevices : public CFleetSink, private CDtlsSession::Link {
public:
    static constexpr size_t kMaxHeld = 16;
    static constexpr int64_t kFirstBackoffNs = 1000000000;
    static constexpr int64_t kMaxBackoffNs = 64000000000;
    // How often the retransmission thread looks at the handshakes.
    static constexpr int kTimerGrainMs = 10;

    // A device that failed most, for the summary.
    struct Failing {
        uint32_t nDevice = 0;
        uint32_t nFailures = 0;
        CHandshakeCounts::Cause nLast = CHandshakeCounts::kOther;
        std::string strLast;  // the alert or library error of its last
    };

    CDtlsDevices(CDtlsContext& context, CFleetSink& sink, const CFleetPlan& plan, uint64_t nFirstDevice,
                 uint32_t nDevices, CFleetClock& clock, CHandshakeStats& stats);
    ~CDtlsDevices() override;
    CDtlsDevices(const CDtlsDevices&) = delete;
    CDtlsDevices& operator=(const CDtlsDevices&) = delete;

    [[nodiscard]] CStatus Start();
    // Ends the retransmissions and says close_notify on every open session.
    void Stop();

    bool Send(uint32_t nDevice, const char* pData, size_t nLength) override;
    void Offline(uint32_t nDevice) override;
    // A datagram that reached device nDevice's socket at nArrivalNs; what
    // it carries for the device goes to onData (on this thread).
    void Incoming(uint32_t nDevice, const char* pData, size_t nLength, int64_t nArrivalNs,
                  const CDtlsSession::OnData& onData);

    // Up to nMost devices with the most failed handshakes, most first.
    std::vector<Failing> MostFailing(size_t nMost) const;

private:
    struct Device {
        std::unique_ptr<CDtlsSession> pSession;
        // The last open session, to resume.
        CDtlsSession::SavedSession pSaved;
        std::vector<std::string> held;
        int64_t nStartedNs = 0;
        int64_t nRetryNs = 0;
        uint32_t nFailures = 0;  // in a row
        uint32_t nFailedTotal = 0;
        CHandshakeCounts::Cause nLast = CHandshakeCounts::kOther;
        std::string strLast;
    };

    static constexpr size_t kStripes = 4096;

    bool SendDatagram(uint32_t nTag, const char* pData, size_t nLength) override;
    bool PskFor(uint32_t nTag, std::string& strIdentity, std::string& strKey) override;
    bool CertFor(uint32_t nTag, std::string& strCert, std::string& strKey) override;

    std::mutex& Stripe(uint32_t nDevice) const { return m_stripes[nDevice % kStripes]; }
    // With the device's stripe held.
    bool Begin(uint32_t nDevice, Device& device, int64_t nNowNs);
    void Opened(Device& device, int64_t nArrivalNs);
    void Failed(uint32_t nDevice, Device& device, int64_t nNowNs);
    void Drop(Device& device);
    // Its held datagrams never go: counted unsent.
    void DropHeld(Device& device);
    int64_t BackoffNs(uint32_t nDevice, uint32_t nFailures) const;
    void RunTimers();

    CDtlsContext& m_context;
    CFleetSink& m_sink;
    const CFleetPlan& m_plan;
    const uint64_t m_nFirstDevice;
    CFleetClock& m_clock;
    CHandshakeStats& m_stats;
    std::vector<Device> m_devices;
    mutable std::array<std::mutex, kStripes> m_stripes;
    // The devices handshaking (or that were when last looked at).
    std::mutex m_handshakingLock;
    std::vector<uint32_t> m_handshaking;
    std::atomic<bool> m_bStop{false};
    std::unique_ptr<std::thread> m_pTimers;
};
