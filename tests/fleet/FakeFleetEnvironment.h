#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet/CFleetClock.h"
#include "fleet/CFleetSink.h"

// A clock that only moves when a scheduler thread sleeps, in nanoseconds. A
// sleep past the run's end stops the run there; one jump (the clock runs to
// nJumpAtNs and is set by nJumpNs there) may be planned. For one scheduler
// thread: the engine's thread moves it, the test reads it afterwards.
class CFakeFleetClock : public CFleetClock {
public:
    CFakeFleetClock(int64_t nStartNs, int64_t nEndNs) : m_nNs(nStartNs), m_nEndNs(nEndNs) {}

    void PlanJump(int64_t nAtNs, int64_t nJumpNs)
    {
        m_nJumpAtNs = nAtNs;
        m_nJumpNs = nJumpNs;
    }
    // Moves the clock on as a send's own cost would.
    void Spend(int64_t nNs) { m_nNs += nNs; }

    int64_t NowNs() override { return m_nNs.load(); }
    Wake SleepUntil(int, int64_t nDeadlineNs, int64_t& nSetByNs) override
    {
        if (m_bStopped.load())
            return Wake::kStopped;
        if (m_nJumpNs != 0 && nDeadlineNs > m_nJumpAtNs) {
            m_nNs = m_nJumpAtNs + m_nJumpNs;
            nSetByNs = m_nJumpNs;
            m_nJumpNs = 0;
            return Wake::kClockSet;
        }
        if (nDeadlineNs > m_nEndNs) {
            m_nNs = m_nEndNs;
            m_bStopped = true;
            return Wake::kStopped;
        }
        if (nDeadlineNs > m_nNs)
            m_nNs = nDeadlineNs;
        return Wake::kDeadline;
    }
    void Stop() override { m_bStopped = true; }
    bool Stopped() const override { return m_bStopped.load(); }

private:
    std::atomic<int64_t> m_nNs;
    const int64_t m_nEndNs;
    int64_t m_nJumpAtNs = 0;
    int64_t m_nJumpNs = 0;
    std::atomic<bool> m_bStopped{false};
};

struct FleetDatagram {
    uint32_t nDevice;
    std::string bytes;
    int64_t nNs;  // the fake clock when it was sent
};

// The datagrams of one device, in the order they were sent.
inline std::vector<FleetDatagram> DatagramsOf(const std::vector<FleetDatagram>& sent, uint32_t nDevice)
{
    std::vector<FleetDatagram> of;
    for (const FleetDatagram& datagram : sent) {
        if (datagram.nDevice == nDevice)
            of.push_back(datagram);
    }
    return of;
}

class CFakeFleetSink : public CFleetSink {
public:
    explicit CFakeFleetSink(CFakeFleetClock& clock, int64_t nCostNs = 0) : m_clock(clock), m_nCostNs(nCostNs) {}
    bool Send(uint32_t nDevice, const char* pData, size_t nLength) override
    {
        m_sent.push_back({nDevice, std::string(pData, nLength), m_clock.NowNs()});
        m_clock.Spend(m_nCostNs);
        return true;
    }
    std::vector<FleetDatagram> Of(uint32_t nDevice) const
    {
        std::vector<FleetDatagram> sent;
        for (const FleetDatagram& datagram : m_sent) {
            if (datagram.nDevice == nDevice)
                sent.push_back(datagram);
        }
        return sent;
    }
    std::vector<FleetDatagram> m_sent;

private:
    CFakeFleetClock& m_clock;
    const int64_t m_nCostNs;
};
