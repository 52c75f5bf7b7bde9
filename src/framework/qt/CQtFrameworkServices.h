#pragma once

#include <QIcon>
#include <QStringList>

#include <map>

#include "framework/CFrameworkServices.h"

class QWidget;

// The framework's services on Qt Widgets: QMessageBox, QFileDialog, windows
// built by CQtDialogWindow, loads under CLoadProgress. Icons are the
// program's resources, registered by id before the windows that show them
// are created. The QApplication must exist first.
//
// User-interface thread only.
class CQtFrameworkServices : public CFrameworkServices {
public:
    bool SocketInit() override;
    std::unique_ptr<CDialogWindow> CreateDialogWindow(CDialogFrame& dialog, const DialogTemplate& dialogTemplate,
                                                      CDialogWindow* pParent) override;
    void WindowMessageBox(CDialogWindow* pOwner, const std::string& strText, const std::string& strCaption,
                          Icon nIcon) override;
    void AppMessageBox(const std::string& strText, Icon nIcon = Icon::kNone) override;
    bool FileOpenDialog(CDialogWindow* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                        std::string& strPath) override;
    CStatus StartThread(std::function<void()> body, std::unique_ptr<std::thread>& pThread) override;
    bool RunLoad(CDialogWindow* pOwner, const LoadJob& job, int nReportsPerByte, int nShowDelayMs) override;
    std::string AppName() const override;

    // The icon resource nId; a null icon when none is registered.
    void SetIconResource(int nId, const QIcon& icon) { m_icons[nId] = icon; }
    QIcon IconResource(int nId) const;

    // The name filters of a filter text for Qt, one "label (patterns)" each.
    static QStringList NameFilters(const std::string& strFilter);
    // The widget of a backend window, or the active window for none.
    static QWidget* OwnerWidget(CDialogWindow* pOwner);

private:
    // Qt's file dialog itself, run and gone.
    static bool RunFileDialog(QWidget* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                              std::string& strPath);

    std::map<int, QIcon> m_icons;
};
