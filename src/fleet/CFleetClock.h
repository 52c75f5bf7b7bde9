#pragma once

#include <cstdint>

// The fleet's time source: the calendar clock in nanoseconds and a sleep to
// an absolute instant of it. NowNs and Stop may be called from any thread;
// SleepUntil from the scheduler threads, each with its own index.
class CFleetClock {
public:
    enum class Wake {
        kDeadline,  // the clock reached the instant
        kClockSet,  // the clock was set (moved by a step) while sleeping: by nSetByNs
        kStopped,   // Stop was called; every later sleep answers this at once
    };

    virtual ~CFleetClock() = default;
    // Called by each scheduler thread before its first sleep: the real clock
    // asks for wake-ups on time there.
    virtual void PrepareThread(int /*nThread*/) {}
    // Nanoseconds since 1970-01-01 00:00:00 UTC.
    virtual int64_t NowNs() = 0;
    // nSetByNs: after kClockSet, how far the clock was moved (negative when
    // set back), apart from the time that went by.
    virtual Wake SleepUntil(int nThread, int64_t nDeadlineNs, int64_t& nSetByNs) = 0;
    virtual void Stop() = 0;
    virtual bool Stopped() const = 0;
};
