#pragma once

#include "send/CSendClock.h"

// The real clock: time() and a thread sleep (_time64 and Sleep on Windows).
class CSystemClock : public CSendClock {
public:
    int64_t Now() override;
    void Sleep(int nMilliseconds) override;
};
