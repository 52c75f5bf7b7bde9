#pragma once

#include <atomic>
#include <vector>

#include "fleet/CFleetClock.h"

// The real clock: CLOCK_REALTIME. A sleep is one ppoll to the deadline on a
// timer descriptor of the scheduler thread's own, which reports the clock
// being set (a timer that cannot be polled gives way to short plain sleeps);
// Stop wakes every sleeper by making each timer expire at once.
// The descriptors are opened in the constructor (Valid() says whether they
// could be) and closed in the destructor, after the threads have ended.
class CSystemFleetClock : public CFleetClock {
public:
    explicit CSystemFleetClock(int nThreads);
    ~CSystemFleetClock() override;
    CSystemFleetClock(const CSystemFleetClock&) = delete;
    CSystemFleetClock& operator=(const CSystemFleetClock&) = delete;

    bool Valid() const;
    int64_t NowNs() override;
    Wake SleepUntil(int nThread, int64_t nDeadlineNs, int64_t& nSetByNs) override;
    void Stop() override;
    bool Stopped() const override { return m_bStopped.load(); }

private:
    static bool ArmSetWatch(int hTimer);
    // CLOCK_MONOTONIC, which a set does not move.
    static int64_t SteadyNs();

    std::vector<int> m_timers;
    std::atomic<bool> m_bStopped{false};
};
