#pragma once

#include <atomic>
#include <cstdint>

// The send worker's time source: the calendar clock and the tick's sleep.
// Now() and Sleep() are called on the worker's thread only; Wake() by the
// thread that stops the run.
class CSendClock {
public:
    virtual ~CSendClock() = default;
    // Seconds since 1970-01-01 00:00:00 UTC.
    virtual int64_t Now() = 0;
    // Suspends for at least nMilliseconds, unless bRunning is or becomes
    // false: then it ends as soon as it sees that (at the latest after a
    // Wake()) and answers false. It ends early for no other reason, so a
    // true answer means the whole interval has passed.
    virtual bool Sleep(int nMilliseconds, const std::atomic<bool>& bRunning) = 0;
    // Makes a Sleep() in progress, or the next one, look at its flag again;
    // called after the flag was cleared.
    virtual void Wake() = 0;
};
