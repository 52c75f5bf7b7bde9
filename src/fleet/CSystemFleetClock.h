#pragma once

#include <atomic>
#include <memory>

#include "fleet/CFleetClock.h"

// The real clock: the system's calendar clock, and sleeps to absolute
// instants of it that notice the clock being set. Linux sleeps in one ppoll
// to the deadline on a timer descriptor of the scheduler thread's own, which
// reports the clock being set (a timer that cannot be polled gives way to
// short plain sleeps); Stop wakes every sleeper by making each timer expire
// at once. The timers are made in the constructor (Valid() says whether they
// could be) and released in the destructor, after the threads have ended.
class CSystemFleetClock : public CFleetClock {
public:
    explicit CSystemFleetClock(int nThreads);
    ~CSystemFleetClock() override;
    CSystemFleetClock(const CSystemFleetClock&) = delete;
    CSystemFleetClock& operator=(const CSystemFleetClock&) = delete;

    bool Valid() const;
    // The calendar clock now, nanoseconds since 1970: what NowNs reads, also
    // for those that have no clock object.
    static int64_t CalendarNs();
    int64_t NowNs() override { return CalendarNs(); }
    void PrepareThread(int nThread) override;
    Wake SleepUntil(int nThread, int64_t nDeadlineNs, int64_t& nSetByNs) override;
    void Stop() override;
    bool Stopped() const override { return m_bStopped.load(); }

private:
    struct Timers;

    std::unique_ptr<Timers> m_pTimers;
    std::atomic<bool> m_bStopped{false};
};
