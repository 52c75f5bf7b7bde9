#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "load/CLoadResult.h"

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

    // Runs one load and answers what it gave; called with the progress the
    // load reports to (answering false cancels it).
    using LoadJob = std::function<CLoadResult(const CLoadResult::Progress&)>;
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

    // Runs body on a new thread; null, with the reason, when the platform
    // cannot create one.
    virtual std::unique_ptr<std::thread> StartThread(std::function<void()> body, std::string& strError) = 0;

    // Runs job and answers its result, keeping pOwner's window alive: the
    // operator's input waits, and a load still going after nShowDelayMs shows
    // its progress (nReportsPerByte units of it to one byte) with a way to
    // cancel it (kCancelled). The job may run on another thread: it must
    // capture its inputs by value.
    virtual CLoadResult RunLoad(CDialogWindow* pOwner, const LoadJob& job, int nReportsPerByte, int nShowDelayMs) = 0;

    // The caption of boxes without one of their own.
    virtual std::string AppName() const = 0;
};
