#pragma once

#include <functional>
#include <string>
#include <vector>

// What one run of tovrik-cli did.
struct CliRun {
    int nExit = -1;
    std::string out;
    std::string err;
    double dSeconds = 0;
};

// Starts tovrik-cli (TOVRIK_CLI_PATH; a bare file name is looked for beside
// the test program) with UTF-8 arguments, standard output and error going
// into files, and waits for it to end.
class CliProcess {
public:
    // How the operator asks a run to stop: SIGINT or SIGTERM on POSIX,
    // Ctrl-C or Ctrl-Break on Windows.
    enum class Stop { kNone, kInterrupt, kTerminate };

    // When stop is not kNone, asks for it after nStopAfterMs.
    static CliRun Run(const std::vector<std::string>& args, int nStopAfterMs = -1, Stop stop = Stop::kNone);
    // When stop is not kNone, asks for it once stopDue, asked on the calling
    // thread every 10 ms while the program runs, says it is due.
    static CliRun Run(const std::vector<std::string>& args, const std::function<bool()>& stopDue, Stop stop);
    // Whether a symbolic link the test makes is one the program sees through
    // (not the links wine makes of a Windows program's).
    static bool SeesThroughSymbolicLinks();
};
