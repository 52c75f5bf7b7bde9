#include "framework/CLoadTask.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>

#include "text/TovrikTexts.h"

// Shared by the task and the loading thread.
struct CLoadTask::State {
    std::atomic<int64_t> nDone{0};
    std::atomic<int64_t> nTotal{0};
    std::atomic<bool> bCancel{false};
    std::atomic<bool> bFinished{false};
};

CLoadTask::CLoadTask(CFrameworkServices& services, const CFrameworkServices::LoadJob& job, int nReportsPerByte)
    : m_pState(std::make_shared<State>()), m_nReportsPerByte(std::max(nReportsPerByte, 1))
{
    std::shared_ptr<State> pState = m_pState;
    const CFrameworkServices::Progress progress = [pState](int64_t nDone, int64_t nTotal) {
        pState->nDone.store(nDone);
        pState->nTotal.store(nTotal);
        return !pState->bCancel.load();
    };
    const CStatus started = services.StartThread(
        [pState, job, progress] {
            job(progress);
            pState->bFinished.store(true);
        },
        m_pThread);
    // Without a thread the job runs here, the window waiting for it.
    if (!started.IsOk()) {
        job(progress);
        m_pState->bFinished.store(true);
    }
}

CLoadTask::~CLoadTask()
{
    if (!m_pThread)
        return;
    // A job still going is told to stop, and sees it at its next report; it
    // is waited for, so that no thread outlives the window it was for.
    m_pState->bCancel.store(true);
    m_pThread->join();
}

bool CLoadTask::Finished() const
{
    return m_pState->bFinished.load();
}

void CLoadTask::Cancel()
{
    m_pState->bCancel.store(true);
}

bool CLoadTask::Cancelled() const
{
    return m_pState->bCancel.load();
}

std::string CLoadTask::ProgressText() const
{
    const int64_t nDone = m_pState->nDone.load();
    const int64_t nTotal = m_pState->nTotal.load();
    std::string strText = std::string(TovrikTexts::kPleaseWait) + "\n已处理 " + SizeText(nDone / m_nReportsPerByte);
    if (nTotal > 0)
        strText += " / " + SizeText(nTotal / m_nReportsPerByte);
    return strText;
}

int CLoadTask::ProgressSteps(int nSteps) const
{
    const int64_t nDone = m_pState->nDone.load();
    const int64_t nTotal = m_pState->nTotal.load();
    if (nTotal <= 0)
        return 0;
    return static_cast<int>(std::min(nDone, nTotal) * nSteps / nTotal);
}

bool CLoadTask::Completed() const
{
    return m_pState->bFinished.load() && !m_pState->bCancel.load();
}

std::string CLoadTask::SizeText(int64_t nBytes)
{
    if (nBytes < 1024)
        return std::to_string(nBytes) + " 字节";
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    double dValue = static_cast<double>(nBytes) / 1024;
    size_t nUnit = 0;
    // 1023.95 and more would print as 1024.0 of the smaller unit.
    while (dValue >= 1023.95 && nUnit + 1 < std::size(kUnits)) {
        dValue /= 1024;
        ++nUnit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f %s", dValue, kUnits[nUnit]);
    return text;
}
