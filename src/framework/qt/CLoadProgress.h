#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/CFrameworkServices.h"
#include "load/CLoadResult.h"

class QWidget;

// Runs one load on a thread of its own so that the window stays alive. The
// operator's input waits meanwhile; a load still going after the show delay
// gets a modal progress dialog with the bytes done and a Cancel button.
// Cancelling answers kCancelled and releases whatever the load built. When no
// thread can be created the load runs on the calling thread.
//
// User-interface thread only. The job runs on another thread: it must capture
// its inputs by value.
class CLoadProgress {
public:
    using Job = CFrameworkServices::LoadJob;

    static constexpr int kDefaultShowDelayMs = CFrameworkServices::kDefaultLoadShowDelayMs;
    // How long a cancelled load may take to notice before it is left to end
    // on its own.
    static constexpr int kCancelWaitMs = 2000;

    CLoadProgress(CFrameworkServices& services, QWidget* pOwner, int nShowDelayMs = kDefaultShowDelayMs)
        : m_services(services), m_pOwner(pOwner), m_nShowDelayMs(nShowDelayMs)
    {
    }

    // nReportsPerByte: how many units the job's progress reports count for
    // one input byte (an import counts each byte once read and once cut), so
    // that the dialog shows bytes.
    CLoadResult Run(const Job& job, int nReportsPerByte = 1);

    // An amount of bytes as the dialog shows it: "512 字节", "12.3 MB".
    static std::string SizeText(int64_t nBytes);

private:
    CFrameworkServices& m_services;
    QWidget* m_pOwner;
    int m_nShowDelayMs;
};
