#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

// Starts the program's threads without letting an exception out: a thread
// that cannot be created is a null thread and the reason. Any thread.
class CThreadStarter {
public:
    using Body = std::function<void()>;
    // How a part of the program is given its threads: Start, a framework's
    // (which may have more to do), or a test's that fails.
    using Function = std::function<std::unique_ptr<std::thread>(Body body, std::string& strError)>;

    // Runs body on a new thread; null, with the reason, when none can be had.
    static std::unique_ptr<std::thread> Start(Body body, std::string& strError);
};
