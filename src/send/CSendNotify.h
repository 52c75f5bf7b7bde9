#pragma once

#include <cstdint>

// The worker's two notices, called on the worker's thread. Implementations
// must not block on the user-interface thread: the window queues them to it.
class CSendNotify {
public:
    virtual ~CSendNotify() = default;
    // Once per tick, after the clock read, with the low 32 bits of the reading.
    virtual void OnSendTick(uint32_t nClockLow) = 0;
    // Once, as the worker's very last act: the worker object may be destroyed
    // as soon as this is called.
    virtual void OnSendEnd() = 0;
};
