#pragma once

#include <QDialog>

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "framework/CDialogWindow.h"

class CDialogFrame;
class CQtFrameworkServices;
class QMenu;
class QPushButton;
struct ControlTemplate;
struct DialogTemplate;

// A dialog's window on Qt Widgets, built from its template: each control
// becomes the widget its class and styles ask for, placed by dialog units
// (the base units of the toolkit's font at the template's point size) and
// chained in tab order. It routes
// clicks to CDialogFrame::OnCommand, posted messages to OnMessage, the
// system-menu entries (the window's context menu and Alt+Space, where the
// window manager leaves the system menu to the window) to OnSysCommand, and
// asks OnClosing before it ends. Enter in a multi-line edit without
// ES_WANTRETURN presses the default button; Ctrl+Enter breaks the line.
//
// User-interface thread only, except Post. The dialog and the
// services must outlive the window.
class CQtDialogWindow : public QDialog, public CDialogWindow {
    Q_OBJECT

public:
    CQtDialogWindow(CQtFrameworkServices& services, CDialogFrame& dialog, const DialogTemplate& dialogTemplate,
                    QWidget* pParent);

    void Create() override;
    int DoModal() override;
    void EndDialog(int nResult) override;
    std::string GetItemText(int nId) const override;
    void SetItemText(int nId, const std::string& strText) override;
    bool IsItemChecked(int nId) const override;
    void SetItemCheck(int nId, bool bCheck) override;
    void EnableItem(int nId, bool bEnable) override;
    void GotoDlgCtrl(int nId) override;
    void InsertComboString(int nId, int nIndex, const std::string& strText) override;
    int GetComboSelection(int nId) const override;
    void SetComboSelection(int nId, int nIndex) override;
    void SetIcon(int nIconId) override;
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenu(int nCommand, const std::string& strText) override;
    void Post(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag) override;

    QWidget* GetDlgItem(int nId) const;
    // Dialog units to pixels, with the dialog font's base units.
    QRect MapDialogRect(int nX, int nY, int nWidth, int nHeight) const;

protected:
    bool event(QEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    // Asks the dialog first.
    void done(int nResult) override;

private:
    QWidget* CreateControl(const ControlTemplate& control);
    void PlaceControl(const ControlTemplate& control, QWidget* pControl);
    QMenu* SystemMenu();

    CQtFrameworkServices& m_services;
    CDialogFrame& m_dialog;
    const DialogTemplate& m_template;
    int m_nBaseX = 0;
    int m_nBaseY = 0;
    bool m_bCreated = false;
    std::map<int, QWidget*> m_controls;
    // Multi-line edits whose Enter presses the default button.
    std::set<const QObject*> m_enterPressesDefault;
    QPushButton* m_pDefaultButton = nullptr;
    QWidget* m_pFirstTabStop = nullptr;
    QWidget* m_pLastTabStop = nullptr;
    QMenu* m_pSystemMenu = nullptr;
};
