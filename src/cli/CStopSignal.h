#pragma once

#include "base/CStopSource.h"

// The operator's request to stop a run from outside: SIGINT and SIGTERM on
// POSIX; Ctrl-C, Ctrl-Break and closing the console window on Windows.
// While the object lives, those no longer end the process but are taken by
// Wait(). Make it on the main thread before any other thread starts (POSIX
// blocks the signals for every thread started afterwards); one at a time.
class CStopSignal : public CStopSource {
public:
    CStopSignal();
    ~CStopSignal() override;
    CStopSignal(const CStopSignal&) = delete;
    CStopSignal& operator=(const CStopSignal&) = delete;

    // Waits up to nMilliseconds; true when a stop was requested.
    bool Wait(int nMilliseconds) override;
};
