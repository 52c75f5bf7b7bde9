#pragma once

// Where a front end's request to stop a run comes from (a signal, a button):
// what a run waits on between its own checks. The thread that runs the wait
// calls Wait.
class CStopSource {
public:
    virtual ~CStopSource() = default;
    // Waits up to nMilliseconds; true when a stop was requested.
    virtual bool Wait(int nMilliseconds) = 0;
};
