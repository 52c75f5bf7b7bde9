#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "base/CStatus.h"

// Starts the program's threads without letting an exception out: a thread
// that cannot be created is a failure that says why. Any thread.
class CThreadStarter {
public:
    using Body = std::function<void()>;
    // How a part of the program is given its threads: Start, a framework's
    // (which may have more to do), or a test's that fails.
    using Function = std::function<CStatus(Body body, std::unique_ptr<std::thread>& pThread)>;

    // Runs body on a new thread, kept in pThread; fails, pThread left null,
    // when none can be had.
    [[nodiscard]] static CStatus Start(Body body, std::unique_ptr<std::thread>& pThread);
};
