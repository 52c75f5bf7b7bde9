#pragma once

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QObject;
class QWidget;

// The services the window's logic asks of the desktop framework: message
// boxes, the file-open dialog, threads, the socket layer's start, the
// application's name and the posting of messages to a window's thread. The
// window never calls Qt's boxes or dialogs itself, so a derived class can
// answer them (tests record the boxes and choose the imported file).
//
// The virtual operations belong to the user-interface thread; PostMessage may
// be called from any thread.
class CFrameworkServices {
public:
    enum class Icon { kNone, kExclamation, kInformation };

    virtual ~CFrameworkServices() = default;

    // Starts the socket layer; false when sockets cannot be used.
    virtual bool SocketInit();

    // A window's message box: modal, OK button; an empty caption shows the
    // application's name.
    virtual void MessageBox(QWidget* pOwner, const std::string& strText, const std::string& strCaption, Icon nIcon);
    // The application's message box: modal, OK button, the application's name
    // as caption.
    virtual void AppMessageBox(const std::string& strText, Icon nIcon = Icon::kNone);
    // The same with a string-table entry.
    void AppMessageBox(int nStringId, Icon nIcon = Icon::kNone);

    // Lets the operator choose an existing file. strFilter is pairs of label
    // and patterns, all separated by '|' and ended by "||" ("文件(*.txt)|*.txt||").
    // True with the chosen file's full path when confirmed.
    virtual bool FileOpenDialog(QWidget* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                                std::string& strPath);

    // Runs body on a new thread; null, with the reason, when the platform
    // cannot create one.
    virtual std::unique_ptr<std::thread> StartThread(std::function<void()> body, std::string& strError);

    // The caption of boxes without one of their own: the executable's name.
    static std::string AppName();

    // Queues a message for pTarget's thread. Safe from any thread; messages
    // to one target arrive in posting order.
    static void PostMessage(QObject* pTarget, int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag);

    // The name filters of a filter text for Qt, one "label (patterns)" each.
    static QStringList NameFilters(const std::string& strFilter);

private:
    // Qt's file dialog itself, run and gone.
    static bool RunFileDialog(QWidget* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                              std::string& strPath);
};
