#include "cli/CliProcess.h"

#include <chrono>

CliRun CliProcess::Run(const std::vector<std::string>& args, int nStopAfterMs, Stop stop)
{
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(nStopAfterMs);
    return Run(args, [due] { return std::chrono::steady_clock::now() >= due; }, stop);
}
