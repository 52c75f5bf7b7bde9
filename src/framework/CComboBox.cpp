#include "framework/CComboBox.h"

#include "framework/CDialogWindow.h"

void CComboBox::Attach(CDialogWindow& window, int nId)
{
    m_pWindow = &window;
    m_nId = nId;
}

void CComboBox::InsertString(int nIndex, const std::string& strText)
{
    if (m_pWindow != nullptr)
        m_pWindow->InsertComboString(m_nId, nIndex, strText);
}

int CComboBox::GetCurSel() const
{
    return m_pWindow != nullptr ? m_pWindow->GetComboSelection(m_nId) : -1;
}

void CComboBox::SetCurSel(int nIndex)
{
    if (m_pWindow != nullptr)
        m_pWindow->SetComboSelection(m_nId, nIndex);
}
