#include "framework/CDialogFrame.h"

#include "framework/CDataExchange.h"
#include "framework/CDialogWindow.h"
#include "framework/DialogTemplate.h"

CDialogFrame::CDialogFrame(CFrameworkServices& services, const DialogTemplate& dialogTemplate, CDialogFrame* pParent)
    : m_services(services), m_template(dialogTemplate), m_pParent(pParent)
{
}

CDialogFrame::~CDialogFrame() = default;

void CDialogFrame::Create()
{
    if (m_pWindow)
        return;
    CDialogWindow* pParentWindow = m_pParent != nullptr && m_pParent->HasWindow() ? &m_pParent->Window() : nullptr;
    m_pWindow = m_services.CreateDialogWindow(*this, m_template, pParentWindow);
    m_pWindow->Create();
}

int CDialogFrame::DoModal()
{
    Create();
    return m_pWindow->DoModal();
}

void CDialogFrame::EndDialog(int nResult)
{
    if (m_pWindow)
        m_pWindow->EndDialog(nResult);
}

bool CDialogFrame::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(m_services, *m_pWindow, bSaveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

bool CDialogFrame::ValidateData()
{
    CDataExchange dx(m_services, *m_pWindow, true, true);
    DoDataExchange(dx);
    return !dx.Failed();
}

void CDialogFrame::SetItemText(int nId, const std::string& strText)
{
    m_pWindow->SetItemText(nId, strText);
}

void CDialogFrame::EnableItem(int nId, bool bEnable)
{
    m_pWindow->EnableItem(nId, bEnable);
}

void CDialogFrame::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                              CFrameworkServices::Icon nIcon)
{
    m_services.WindowMessageBox(m_pWindow.get(), strText, strCaption, nIcon);
}

bool CDialogFrame::OnInitDialog()
{
    return true;
}

void CDialogFrame::DoDataExchange(CDataExchange&)
{
}

void CDialogFrame::OnCommand(int nId)
{
    if (nId == DialogId::kOk || nId == DialogId::kCancel)
        EndDialog(nId);
}

void CDialogFrame::OnMessage(int, uint32_t, intptr_t, uint64_t)
{
}

void CDialogFrame::OnSysCommand(int)
{
}

bool CDialogFrame::OnClosing()
{
    return true;
}
