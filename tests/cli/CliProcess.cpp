#include "cli/CliProcess.h"

#include <chrono>
#include <thread>

CliRun CliProcess::Run(const std::vector<std::string>& args, int nStopAfterMs, Stop stop)
{
    return Run(args, [nStopAfterMs] { std::this_thread::sleep_for(std::chrono::milliseconds(nStopAfterMs)); },
               stop);
}
