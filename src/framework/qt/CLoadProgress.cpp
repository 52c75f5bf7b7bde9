#include "framework/qt/CLoadProgress.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include "framework/CLoadTask.h"

namespace {

constexpr int kPollMs = 15;
constexpr int kSteps = 1000;

void ShowProgress(QProgressDialog& dialog, const CLoadTask& task)
{
    const QString strText = QString::fromStdString(task.ProgressText());
    dialog.setValue(task.ProgressSteps(kSteps));
    if (dialog.labelText() != strText)
        dialog.setLabelText(strText);
}

}  // namespace

bool CLoadProgress::Run(const Job& job, int nReportsPerByte)
{
    CLoadTask task(m_services, job, nReportsPerByte);
    if (task.Finished())
        return task.Completed();

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QProgressDialog* pDialog = nullptr;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (task.Finished())
            loop.quit();
        else if (pDialog != nullptr)
            ShowProgress(*pDialog, task);
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

    if (!task.Finished()) {
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
            task.Cancel();
            loop.quit();
        });
        ShowProgress(dialog, task);
        dialog.show();
        loop.exec();
        pDialog = nullptr;
        if (task.Cancelled() && !task.Finished()) {
            // The load notices at its next progress report, normally at once.
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(CLoadTask::kCancelWaitMs);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
    }
    poll.stop();
    return task.Completed();
}
