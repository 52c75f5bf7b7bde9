#pragma once

#include "framework/win32/Win32Api.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>

#include "framework/CDialogWindow.h"
#include "framework/win32/CWin32DialogTemplate.h"

class CDialogFrame;
struct DialogTemplate;

// A dialog's window on the Win32 dialog manager, made from its template in
// memory (CWin32DialogTemplate) by CreateDialogIndirectParamW and run
// modally by a loop of its own with IsDialogMessageW, the owner disabled
// meanwhile. The dialog manager gives tab order, Enter for the default
// button (also in a multi-line edit without ES_WANTRETURN) and Escape. It
// routes clicks to CDialogFrame::OnCommand, the posted messages to
// OnMessage, its own system-menu entries to OnSysCommand, asks OnClosing
// before it ends, and paints its icon centred while minimised.
//
// User-interface thread only, except Post. The dialog must outlive
// the window.
class CWin32DialogWindow : public CDialogWindow {
public:
    CWin32DialogWindow(CDialogFrame& dialog, const DialogTemplate& dialogTemplate, HWND hOwner);
    ~CWin32DialogWindow() override;
    CWin32DialogWindow(const CWin32DialogWindow&) = delete;
    CWin32DialogWindow& operator=(const CWin32DialogWindow&) = delete;

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

    // The window; null before Create.
    HWND Handle() const { return m_hWnd; }

    // A window's text as UTF-8.
    static std::string WindowText(HWND hWnd);
    // Waits for the next message and handles it, the dialog's keys by the
    // dialog manager. False on WM_QUIT (posted again for the loops outside)
    // or an error: a modal loop ends then.
    static bool PumpMessage(HWND hDialog);

private:
    // A posted message's parameters; the window message itself carries
    // nSerial in its lParam, so that a message of the same number from
    // anyone else is told from it.
    struct Posted {
        int nMessage;
        uint32_t wParam;
        intptr_t lParam;
        uint64_t nTag;
        LPARAM nSerial;
    };

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT nMessage, WPARAM wParam, LPARAM lParam);
    bool DeliverPosted(UINT nMessage, LPARAM lParam);
    // A multi-line edit takes whatever is typed or pasted into it: the
    // system's default limit (30,000 characters under wine, 32,767 on
    // Windows) would cut a paste short without a word, below what a load
    // accepts. 0 is the largest limit there is.
    void LiftTextLimits();
    bool PaintIconic();
    void CenterOnOwner();

    CDialogFrame& m_dialog;
    CWin32DialogTemplate m_template;
    HWND m_hOwner;
    std::atomic<HWND> m_hWnd{nullptr};
    HICON m_hIcon = nullptr;
    bool m_bFocusFirst = false;
    bool m_bInModal = false;
    bool m_bEnded = false;
    int m_nResult = 0;
    std::set<int> m_sysCommands;

    std::mutex m_postedMutex;
    std::deque<Posted> m_posted;
    LPARAM m_nNextSerial = 1;
};
