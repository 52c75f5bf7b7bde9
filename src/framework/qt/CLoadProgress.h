#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/CFrameworkServices.h"

class QWidget;

// Runs one load through a CLoadTask (on a thread of its own) so that the
// window stays alive. The operator's input waits meanwhile; a load still
// going after the show delay gets a modal progress dialog with the bytes done
// and a Cancel button.
//
// User-interface thread only. The job runs on another thread: it must capture
// its inputs by value.
class CLoadProgress {
public:
    using Job = CFrameworkServices::LoadJob;

    static constexpr int kDefaultShowDelayMs = CFrameworkServices::kDefaultLoadShowDelayMs;

    CLoadProgress(CFrameworkServices& services, QWidget* pOwner, int nShowDelayMs = kDefaultShowDelayMs)
        : m_services(services), m_pOwner(pOwner), m_nShowDelayMs(nShowDelayMs)
    {
    }

    // nReportsPerByte: how many units the job's progress reports count for
    // one input byte (an import counts each byte once read and once cut), so
    // that the dialog shows bytes. False when the operator cancelled it.
    bool Run(const Job& job, int nReportsPerByte = 1);

private:
    CFrameworkServices& m_services;
    QWidget* m_pOwner;
    int m_nShowDelayMs;
};
