#pragma once

#include <cstdint>
#include <string>

// One dialog's window as a toolkit's backend gives it: built from the
// dialog's template, its controls addressed by id, its modal run, and the
// messages posted to it. The window calls back its CDialogFrame for the
// initialisation, the commands, the posted messages and the close.
//
// User-interface thread only, except Post. Texts are the program's
// bytes (UTF-8 here).
class CDialogWindow {
public:
    virtual ~CDialogWindow() = default;

    // Builds the window and its controls, then runs the dialog's
    // initialisation; its answer true puts the focus on the first tab stop.
    // Once.
    virtual void Create() = 0;
    // Shows the window modally until EndDialog or a close; how it ended.
    virtual int DoModal() = 0;
    virtual void EndDialog(int nResult) = 0;

    // A control's text: an edit's content, a button's caption, the address
    // control's whole dotted address. Setting the text a control already
    // shows leaves it alone (its caret and scroll position stay).
    virtual std::string GetItemText(int nId) const = 0;
    virtual void SetItemText(int nId, const std::string& strText) = 0;
    virtual bool IsItemChecked(int nId) const = 0;
    virtual void SetItemCheck(int nId, bool bCheck) = 0;
    virtual void EnableItem(int nId, bool bEnable) = 0;
    // Puts the focus on a control and selects its text.
    virtual void GotoDlgCtrl(int nId) = 0;

    // Combo boxes: insert at a position (no sorting), the selection (-1:
    // none).
    virtual void InsertComboString(int nId, int nIndex, const std::string& strText) = 0;
    virtual int GetComboSelection(int nId) const = 0;
    virtual void SetComboSelection(int nId, int nIndex) = 0;

    // The window's big and small icon, by resource id.
    virtual void SetIcon(int nIconId) = 0;
    // Appends to the window's system menu: a separator, or an entry whose
    // choice reaches CDialogFrame::OnSysCommand with nCommand.
    virtual void AppendSystemMenuSeparator() = 0;
    virtual void AppendSystemMenu(int nCommand, const std::string& strText) = 0;

    // Queues a message for the dialog's OnMessage on the user-interface
    // thread. Any thread; messages arrive in posting order.
    virtual void Post(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag) = 0;
};
