#pragma once

#include <chrono>
#include <functional>
#include <optional>

class CStopSource;

// How a run waits for its end: the run ending by itself, a time limit, or a
// stop request from the front end (CStopSource). Both kinds of run, one
// device and a fleet, wait through it. The run's clock starts when the
// object is made. One thread; the stop source must outlive it.
class CRunWait {
public:
    CRunWait(CStopSource& stopSource, const std::optional<double>& dStopAfter);

    // Returns when ended() answers true, the time is up or a stop was
    // requested; onSecond, when given, is called once at each whole second
    // of the run meanwhile. ended is asked at least every kPollMs.
    void Wait(const std::function<bool()>& ended, const std::function<void()>& onSecond = {});
    // Seconds since the object was made.
    double Seconds() const;

    static constexpr int kPollMs = 20;

private:
    using Clock = std::chrono::steady_clock;

    CStopSource& m_stopSource;
    const Clock::time_point m_start;
    Clock::time_point m_deadline;
};
