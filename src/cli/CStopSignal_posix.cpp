#include "cli/CStopSignal.h"

#include <pthread.h>
#include <signal.h>

#include <ctime>

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

// The signals are taken synchronously by Wait(); every thread started from
// here on inherits the mask.
CStopSignal::CStopSignal()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

CStopSignal::~CStopSignal() = default;

bool CStopSignal::Wait(int nMilliseconds)
{
    const sigset_t signals = StopSignals();
    const timespec wait{nMilliseconds / 1000, static_cast<long>(nMilliseconds % 1000) * 1000000L};
    return sigtimedwait(&signals, nullptr, &wait) > 0;
}
