#include "framework/qt/CLoadProgress.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>

#include "framework/CFrameworkServices.h"
#include "send/TovrikTexts.h"

namespace {

constexpr int kPollMs = 15;
constexpr int kSteps = 1000;

// Shared by the window and the loading thread; the thread's copy keeps it
// alive when a cancelled load is left to end on its own.
struct LoadState {
    std::atomic<int64_t> nDone{0};
    std::atomic<int64_t> nTotal{0};
    std::atomic<bool> bCancel{false};
    std::atomic<bool> bFinished{false};
    // Written by the thread before bFinished is set.
    CLoadResult result;
};

void ShowProgress(QProgressDialog& dialog, const LoadState& state, int nReportsPerByte)
{
    const int64_t nDone = state.nDone.load();
    const int64_t nTotal = state.nTotal.load();
    QString strText = QString::fromUtf8(TovrikTexts::kPleaseWait) + QStringLiteral("\n已处理 ") +
                      QString::fromStdString(CLoadProgress::SizeText(nDone / nReportsPerByte));
    if (nTotal > 0) {
        dialog.setValue(static_cast<int>(std::min<int64_t>(nDone, nTotal) * kSteps / nTotal));
        strText += QStringLiteral(" / ") + QString::fromStdString(CLoadProgress::SizeText(nTotal / nReportsPerByte));
    }
    if (dialog.labelText() != strText)
        dialog.setLabelText(strText);
}

}  // namespace

std::string CLoadProgress::SizeText(int64_t nBytes)
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

CLoadResult CLoadProgress::Run(const Job& job, int nReportsPerByte)
{
    nReportsPerByte = std::max(nReportsPerByte, 1);
    auto pState = std::make_shared<LoadState>();
    const CLoadResult::Progress progress = [pState](int64_t nDone, int64_t nTotal) {
        pState->nDone.store(nDone);
        pState->nTotal.store(nTotal);
        return !pState->bCancel.load();
    };
    std::string strError;
    std::unique_ptr<std::thread> pThread = m_services.StartThread(
        [pState, job, progress] {
            pState->result = job(progress);
            pState->bFinished.store(true);
        },
        strError);
    if (!pThread)
        return job(progress);

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QProgressDialog* pDialog = nullptr;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pState->bFinished.load())
            loop.quit();
        else if (pDialog != nullptr)
            ShowProgress(*pDialog, *pState, nReportsPerByte);
    });
    poll.start();

    // A short load ends here, with no dialog; the operator's input waits.
    if (m_nShowDelayMs > 0) {
        QTimer delay;
        delay.setSingleShot(true);
        QObject::connect(&delay, &QTimer::timeout, &loop, &QEventLoop::quit);
        delay.start(m_nShowDelayMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    if (!pState->bFinished.load()) {
        QProgressDialog dialog(m_pOwner);
        pDialog = &dialog;
        dialog.setWindowTitle(QString::fromStdString(m_services.AppName()));
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setCancelButtonText(QStringLiteral("取消"));
        dialog.setRange(0, kSteps);
        dialog.setMinimumDuration(0);
        dialog.setAutoReset(false);
        dialog.setAutoClose(false);
        dialog.setMinimumWidth(360);
        QObject::connect(&dialog, &QProgressDialog::canceled, &loop, [&] {
            pState->bCancel.store(true);
            loop.quit();
        });
        ShowProgress(dialog, *pState, nReportsPerByte);
        dialog.show();
        loop.exec();
        pDialog = nullptr;
        if (pState->bCancel.load() && !pState->bFinished.load()) {
            // The load notices at its next progress report, normally at once.
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(kCancelWaitMs);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
    }
    poll.stop();

    if (pState->bFinished.load())
        pThread->join();
    else
        pThread->detach();
    if (pState->bCancel.load()) {
        CLoadResult cancelled;
        cancelled.nStatus = CLoadResult::kCancelled;
        return cancelled;
    }
    return std::move(pState->result);
}
