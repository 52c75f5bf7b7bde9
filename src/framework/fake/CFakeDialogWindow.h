#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "framework/CDialogWindow.h"
#include "framework/DialogTemplate.h"

class CDialogFrame;
class CFakeFrameworkServices;

// A dialog's window for tests: its controls are records built from the
// template (text, check, enabling, combo entries and selection), the focus
// is the id of the control that has it, the system menu a list of entries.
// The test acts as the operator (Click, Close, setting a record) and delivers
// the posted messages when it chooses (DeliverPosted), so that it can hold
// a notice back. The modal run ends at once (CFakeFrameworkServices).
//
// The test's thread only, except Post.
class CFakeDialogWindow : public CDialogWindow {
public:
    struct Control {
        Control(int nControlId, ControlClass nControlClass, uint32_t nControlStyle, std::string strCaption)
            : nId(nControlId), nClass(nControlClass), nStyle(nControlStyle), strText(std::move(strCaption))
        {
        }

        int nId;
        ControlClass nClass;
        uint32_t nStyle;
        std::string strText;
        bool bChecked = false;
        bool bEnabled = true;
        std::vector<std::string> items;
        int nSelection = -1;
    };

    CFakeDialogWindow(CFakeFrameworkServices& services, CDialogFrame& dialog, const DialogTemplate& dialogTemplate);

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
    void SetIcon(int nIconId) override { m_nIcon = nIconId; }
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenu(int nCommand, const std::string& strText) override;
    void Post(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag) override;

    // The control with nId; a test's fault when there is none.
    Control& Item(int nId);
    const Control& Item(int nId) const;

    // The operator clicks a control: an enabled button gets the focus (when
    // it is a tab stop) and reaches the dialog; a check box toggles first.
    void Click(int nId);
    // The operator closes the window; true when it has ended.
    bool Close();
    bool Ended() const { return m_bEnded; }
    int Focus() const { return m_nFocus; }
    int Icon() const { return m_nIcon; }
    const std::string& Caption() const { return m_strCaption; }
    // The system menu's entries in order: {command, text}; {0, ""} is a
    // separator.
    const std::vector<std::pair<int, std::string>>& SystemMenu() const { return m_systemMenu; }

    // Hands the messages posted so far to the dialog, in posting order; how
    // many there were.
    size_t DeliverPosted();
    // Waits up to nTimeoutMs until a message nMessage has been posted and not
    // yet delivered.
    bool WaitForPosted(int nMessage, int nTimeoutMs);

private:
    struct Posted {
        int nMessage;
        uint32_t wParam;
        intptr_t lParam;
        uint64_t nTag;
    };

    CFakeFrameworkServices& m_services;
    CDialogFrame& m_dialog;
    const DialogTemplate& m_template;
    std::string m_strCaption;
    std::vector<Control> m_controls;
    // What Item answers for an id without a control.
    Control m_missing{0, ControlClass::kStatic, 0, ""};
    bool m_bCreated = false;
    bool m_bEnded = false;
    int m_nResult = 0;
    int m_nFocus = 0;
    int m_nIcon = 0;
    std::vector<std::pair<int, std::string>> m_systemMenu;

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<Posted> m_queue;
};
