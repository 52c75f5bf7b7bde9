#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "framework/CFrameworkServices.h"

// One load on a thread of its own, as the backends' RunLoad drives it: the
// progress the job reports, a cancel request that the job sees at its next
// report, and whether it ran to its end. When no thread can be created the job runs in the
// constructor. A job still going when the task goes is cancelled and waited
// for (the backends first wait kCancelWaitMs with the window alive).
//
// Made, polled and destroyed on one thread; the job runs on another and must
// capture its inputs by value.
class CLoadTask {
public:
    // How long a cancelled load may take to notice with the window kept
    // alive; after that the task's end waits for it.
    static constexpr int kCancelWaitMs = 2000;

    // nReportsPerByte: how many units the job's progress reports count for
    // one input byte (an import counts each byte once read and once cut).
    CLoadTask(CFrameworkServices& services, const CFrameworkServices::LoadJob& job, int nReportsPerByte);
    ~CLoadTask();
    CLoadTask(const CLoadTask&) = delete;
    CLoadTask& operator=(const CLoadTask&) = delete;

    bool Finished() const;
    void Cancel();
    bool Cancelled() const;

    // The progress as the dialogs show it: the wait notice and "已处理 x / y"
    // in bytes; the share done in nSteps parts (0 while the total is not
    // known).
    std::string ProgressText() const;
    int ProgressSteps(int nSteps) const;

    // Finished without a Cancel: the job's result, which it keeps itself, is
    // whole.
    bool Completed() const;

    // An amount of bytes as the dialogs show it: "512 字节", "12.3 MB".
    static std::string SizeText(int64_t nBytes);

private:
    struct State;

    std::shared_ptr<State> m_pState;
    std::unique_ptr<std::thread> m_pThread;
    int m_nReportsPerByte;
};
