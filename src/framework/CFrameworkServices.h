#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/CStatus.h"

class CDialogFrame;
class CDialogWindow;
struct DialogTemplate;

// What the program's logic asks of a desktop framework beyond one window:
// the socket layer's start, windows built from templates, message boxes, the
// file-open dialog, threads, loads run with the window kept alive, and the
// application's name. Each toolkit has its backend (framework/qt); tests use
// framework/fake.
//
// User-interface thread only.
class CFrameworkServices {
public:
    enum class Icon { kNone, kExclamation, kInformation };

    // Told now and then of the work done out of a total (0: not known yet);
    // answering false asks the job to stop.
    using Progress = std::function<bool(int64_t nDone, int64_t nTotal)>;
    // One load, run to its end with the progress it reports to; it keeps
    // what it gives itself.
    using LoadJob = std::function<void(const Progress&)>;
    // How long a load may take before its progress is shown.
    static constexpr int kDefaultLoadShowDelayMs = 400;

    virtual ~CFrameworkServices() = default;

    // Starts the socket layer; false when sockets cannot be used.
    virtual bool SocketInit() = 0;

    // The window of dialog, built from its template (not yet created), owned
    // by pParent's window when given. The dialog must outlive it.
    virtual std::unique_ptr<CDialogWindow> CreateDialogWindow(CDialogFrame& dialog,
                                                              const DialogTemplate& dialogTemplate,
                                                              CDialogWindow* pParent) = 0;

    // A window's message box: modal, OK button; an empty caption shows the
    // application's name.
    virtual void WindowMessageBox(CDialogWindow* pOwner, const std::string& strText, const std::string& strCaption,
                                  Icon nIcon) = 0;
    // The application's message box: modal, OK button, the application's
    // name as caption.
    virtual void AppMessageBox(const std::string& strText, Icon nIcon = Icon::kNone) = 0;

    // Lets the operator choose an existing file. strFilter is pairs of label
    // and patterns, all separated by '|' and ended by "||" ("文件(*.txt)|*.txt||").
    // True with the chosen file's full path when confirmed.
    virtual bool FileOpenDialog(CDialogWindow* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                                std::string& strPath) = 0;

    // Runs body on a new thread, kept in pThread; fails, saying why, when
    // the platform cannot create one.
    virtual CStatus StartThread(std::function<void()> body, std::unique_ptr<std::thread>& pThread) = 0;

    // Runs job to its end, keeping pOwner's window alive: the operator's
    // input waits, and a load still going after nShowDelayMs shows its
    // progress (nReportsPerByte units of it to one byte) with a way to cancel
    // it. False when the operator cancelled it; the job has ended either way.
    // The job may run on another thread: it must capture its inputs by value.
    virtual bool RunLoad(CDialogWindow* pOwner, const LoadJob& job, int nReportsPerByte, int nShowDelayMs) = 0;

    // The caption of boxes without one of their own.
    virtual std::string AppName() const = 0;
};
