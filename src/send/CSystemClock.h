#pragma once

#include "net/SocketTypes.h"
#include "send/CSendClock.h"

// The real clock: time() (_time64 on Windows) and a sleep that a Wake() cuts
// short, waiting on a wake-up handle: an eventfd polled with a time-out on
// POSIX, an auto-reset event on Windows. Without the handle (it could not be
// made) the sleep runs its whole interval.
class CSystemClock : public CSendClock {
public:
    CSystemClock();
    ~CSystemClock() override;
    CSystemClock(const CSystemClock&) = delete;
    CSystemClock& operator=(const CSystemClock&) = delete;

    int64_t Now() override;
    bool Sleep(int nMilliseconds, const std::atomic<bool>& bRunning) override;
    void Wake() override;

private:
    // Waits up to nMilliseconds for a Wake(), consuming it.
    void WaitForWake(int nMilliseconds);

    EventHandle m_hWake{};
    bool m_bWake = false;
};
