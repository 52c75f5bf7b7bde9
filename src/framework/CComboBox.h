#pragma once

#include <string>

class CDialogWindow;

// A combo box of a dialog, attached to its control by the first data
// exchange; before that it has no entries and no selection. The window must
// outlive it while attached. User-interface thread only.
class CComboBox {
public:
    void Attach(CDialogWindow& window, int nId);
    bool IsAttached() const { return m_pWindow != nullptr; }

    // Inserts at nIndex without sorting.
    void InsertString(int nIndex, const std::string& strText);
    // The selected index; -1 when nothing is selected.
    int GetCurSel() const;
    // -1, or an index outside the entries, selects nothing.
    void SetCurSel(int nIndex);

private:
    CDialogWindow* m_pWindow = nullptr;
    int m_nId = 0;
};
