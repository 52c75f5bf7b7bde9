#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/CFrameworkServices.h"

class CDataExchange;
class CDialogWindow;
struct DialogTemplate;

// The dialog under the program's windows, free of any toolkit: a template,
// the window a backend builds from it, data exchange in both directions,
// captions and enabling by id, message boxes, the modal run. A derived dialog
// prepares its controls in OnInitDialog and handles commands, posted
// messages, system commands and the close in the virtual operations below,
// which the window calls.
//
// User-interface thread only. The services, the template and the parent
// must outlive the dialog.
class CDialogFrame {
public:
    CDialogFrame(CFrameworkServices& services, const DialogTemplate& dialogTemplate, CDialogFrame* pParent);
    virtual ~CDialogFrame();
    CDialogFrame(const CDialogFrame&) = delete;
    CDialogFrame& operator=(const CDialogFrame&) = delete;

    // Builds the window and its controls and runs OnInitDialog, once.
    void Create();
    // Create, then the modal run; answers how the dialog ended.
    int DoModal();
    void EndDialog(int nResult);

    // Control data exchange: true towards the members (reads the controls),
    // false towards the controls. False when a value was refused.
    bool UpdateData(bool bSaveAndValidate = true);
    // Reads and checks the controls without writing any member.
    bool ValidateData();

    void SetItemText(int nId, const std::string& strText);
    void EnableItem(int nId, bool bEnable);
    // A message box owned by this window.
    void ShowMessageBox(const std::string& strText, const std::string& strCaption, CFrameworkServices::Icon nIcon);

    CFrameworkServices& Services() const { return m_services; }
    const DialogTemplate& Template() const { return m_template; }
    // The window; Create() makes it.
    CDialogWindow& Window() const { return *m_pWindow; }
    bool HasWindow() const { return m_pWindow != nullptr; }

    // Called by the window. Answers true to put the focus on the first tab
    // stop.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange& dx);
    // A button's click; IDOK and IDCANCEL end the dialog.
    virtual void OnCommand(int nId);
    // A message posted to the window (CDialogWindow::Post).
    virtual void OnMessage(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag);
    // A command of the system menu added by the dialog.
    virtual void OnSysCommand(int nId);
    // The dialog is about to end (close box, Escape, EndDialog); false keeps
    // it open.
    virtual bool OnClosing();

private:
    CFrameworkServices& m_services;
    const DialogTemplate& m_template;
    CDialogFrame* m_pParent;
    std::unique_ptr<CDialogWindow> m_pWindow;
};
