#pragma once

#include <cstdint>

// The time a receive run reads: the steady clock its delayed answers are due
// on, and the calendar its datagrams arrive on. The system's (System()) in a
// real run; a test may give its own, to hold answers without waiting. Any
// thread.
class CReceiveClock {
public:
    virtual ~CReceiveClock() = default;
    virtual int64_t SteadyNs() = 0;
    virtual int64_t UnixNs() = 0;

    // The system's clocks; lives for the process.
    static CReceiveClock& System();
};
