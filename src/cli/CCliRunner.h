#pragma once

#include <utility>

#include "base/CThreadStarter.h"
#include "cli/CCliOptions.h"
#include "load/CLoadResult.h"

// One device's run of tovrik-cli: load as the start or import button does,
// open the endpoint, run the send worker until it ends, the time is up, or
// a stop request (CStopSignal) arrives, then stop as the stop button does.
// Call from the main thread before any other thread exists.
class CCliRunner {
public:
    // startThread: how the send thread is made (tests make it fail).
    explicit CCliRunner(const CCliOptions& options, CThreadStarter::Function startThread = CThreadStarter::Start)
        : m_options(options), m_startThread(std::move(startThread))
    {
    }
    // The process's exit code.
    int Run();
    // Loads the messages as the options say, as both kinds of run begin;
    // tells standard error why when that gave no packets (the count of a
    // load that did is the run's to say once it has checked the rest).
    static CLoadResult Load(const CCliOptions& options);
    // The exit code of a load that gave no packets.
    static int LoadExit(const CLoadResult& loaded);

private:
    // The socket's family (that of the target's address; a name that does
    // not resolve yet gets the family asked for, else IPv4), or the exit code
    // of a target that may not be sent to.
    int TargetFamily(int& nExit) const;
    int Send(CLoadResult loaded, int nFamily);

    const CCliOptions& m_options;
    CThreadStarter::Function m_startThread;
};
