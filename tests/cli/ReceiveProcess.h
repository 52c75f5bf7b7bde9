#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliProcess.h"

// Binds a UDP socket of the loopback of a family to nPort (0: any); its
// port, or 0 when that port is taken.
uint16_t TryBind(int nFamily, uint16_t nPort);

// tovrik-cli receive on its own thread, on a port that was free, until it
// ends by itself (--stop-after) or is stopped the way stop says once
// RequestStop is called (by the destructor at the latest).
class ReceiveProcess {
public:
    ReceiveProcess(int nFamily, std::vector<std::string> args, CliProcess::Stop stop = CliProcess::Stop::kNone);
    ~ReceiveProcess();
    ReceiveProcess(const ReceiveProcess&) = delete;
    ReceiveProcess& operator=(const ReceiveProcess&) = delete;

    // Its port: once WaitListening has succeeded, the one it listens on.
    uint16_t Port() const { return m_nPort; }
    // Whether it is listening (its port cannot be bound any more); if not,
    // why: it ended, with what it said, or it did not bind in time. A port
    // taken between its pick and the receiver's bind is picked again, a few
    // times.
    ::testing::AssertionResult WaitListening();
    void RequestStop();
    const CliRun& Wait();

private:
    void Start();

    const int m_nFamily;
    const std::vector<std::string> m_args;
    const CliProcess::Stop m_stop;
    std::atomic<bool> m_bStopRequested{false};
    uint16_t m_nPort = 0;
    CliRun m_run;
    std::atomic<bool> m_bEnded{false};
    std::thread m_thread;
};
