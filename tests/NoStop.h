#pragma once

#include <chrono>
#include <thread>

#include "base/CStopSource.h"

// A front end that never asks a run to stop: its waits only pass the time.
class CNoStop : public CStopSource {
public:
    bool Wait(int nMilliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
        return false;
    }
};
