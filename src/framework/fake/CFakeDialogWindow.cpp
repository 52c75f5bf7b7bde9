#include "framework/fake/CFakeDialogWindow.h"

#include <algorithm>
#include <chrono>

#include "framework/CDialogFrame.h"
#include "framework/fake/CFakeFrameworkServices.h"

CFakeDialogWindow::CFakeDialogWindow(CFakeFrameworkServices& services, CDialogFrame& dialog,
                                     const DialogTemplate& dialogTemplate)
    : m_services(services),
      m_dialog(dialog),
      m_template(dialogTemplate),
      m_strCaption(dialogTemplate.pszCaption != nullptr ? dialogTemplate.pszCaption : "")
{
}

void CFakeDialogWindow::Create()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    for (size_t i = 0; i < m_template.nControls; ++i) {
        const ControlTemplate& control = m_template.pControls[i];
        m_controls.emplace_back(control.nId, control.nClass, control.nStyle,
                                control.pszCaption != nullptr ? control.pszCaption : "");
    }
    if (!m_dialog.OnInitDialog())
        return;
    for (const Control& control : m_controls) {
        if (control.nStyle & DialogStyle::kWsTabStop) {
            m_nFocus = control.nId;
            break;
        }
    }
}

int CFakeDialogWindow::DoModal()
{
    Create();
    CFakeFrameworkServices::Modal modal{m_strCaption, {}};
    for (const Control& control : m_controls)
        modal.texts.push_back(control.strText);
    m_services.m_modals.push_back(std::move(modal));
    if (m_services.m_onModal)
        m_services.m_onModal(*this);
    m_bEnded = true;
    return m_nResult;
}

void CFakeDialogWindow::EndDialog(int nResult)
{
    if (m_dialog.OnClosing()) {
        m_nResult = nResult;
        m_bEnded = true;
    }
}

CFakeDialogWindow::Control& CFakeDialogWindow::Item(int nId)
{
    const auto it = std::find_if(m_controls.begin(), m_controls.end(),
                                 [nId](const Control& control) { return control.nId == nId; });
    if (it != m_controls.end())
        return *it;
    m_missing = Control{nId, ControlClass::kStatic, 0, "<missing>"};
    return m_missing;
}

const CFakeDialogWindow::Control& CFakeDialogWindow::Item(int nId) const
{
    return const_cast<CFakeDialogWindow*>(this)->Item(nId);
}

std::string CFakeDialogWindow::GetItemText(int nId) const
{
    return Item(nId).strText;
}

void CFakeDialogWindow::SetItemText(int nId, const std::string& strText)
{
    Item(nId).strText = strText;
}

bool CFakeDialogWindow::IsItemChecked(int nId) const
{
    return Item(nId).bChecked;
}

void CFakeDialogWindow::SetItemCheck(int nId, bool bCheck)
{
    Item(nId).bChecked = bCheck;
}

void CFakeDialogWindow::EnableItem(int nId, bool bEnable)
{
    Item(nId).bEnabled = bEnable;
}

void CFakeDialogWindow::GotoDlgCtrl(int nId)
{
    m_nFocus = nId;
}

void CFakeDialogWindow::InsertComboString(int nId, int nIndex, const std::string& strText)
{
    std::vector<std::string>& items = Item(nId).items;
    items.insert(items.begin() + std::clamp<std::ptrdiff_t>(nIndex, 0, static_cast<std::ptrdiff_t>(items.size())),
                 strText);
}

int CFakeDialogWindow::GetComboSelection(int nId) const
{
    return Item(nId).nSelection;
}

void CFakeDialogWindow::SetComboSelection(int nId, int nIndex)
{
    Control& control = Item(nId);
    control.nSelection = nIndex >= 0 && static_cast<size_t>(nIndex) < control.items.size() ? nIndex : -1;
}

void CFakeDialogWindow::AppendSystemMenuSeparator()
{
    m_systemMenu.emplace_back(0, std::string());
}

void CFakeDialogWindow::AppendSystemMenu(int nCommand, const std::string& strText)
{
    m_systemMenu.emplace_back(nCommand, strText);
}

void CFakeDialogWindow::Post(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back({nMessage, wParam, lParam, nTag});
    }
    m_posted.notify_all();
}

void CFakeDialogWindow::Click(int nId)
{
    Control& control = Item(nId);
    if (!control.bEnabled || control.nClass != ControlClass::kButton)
        return;
    // A click puts the focus on a button that takes it.
    if (control.nStyle & DialogStyle::kWsTabStop)
        m_nFocus = nId;
    if ((control.nStyle & DialogStyle::kBsTypeMask) == DialogStyle::kBsAutoCheckBox)
        control.bChecked = !control.bChecked;
    m_dialog.OnCommand(nId);
}

bool CFakeDialogWindow::Close()
{
    if (!m_bEnded && m_dialog.OnClosing())
        m_bEnded = true;
    return m_bEnded;
}

size_t CFakeDialogWindow::DeliverPosted()
{
    std::deque<Posted> posted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        posted.swap(m_queue);
    }
    for (const Posted& message : posted)
        m_dialog.OnMessage(message.nMessage, message.wParam, message.lParam, message.nTag);
    return posted.size();
}

bool CFakeDialogWindow::WaitForPosted(int nMessage, int nTimeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_posted.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [this, nMessage] {
        return std::any_of(m_queue.begin(), m_queue.end(),
                           [nMessage](const Posted& message) { return message.nMessage == nMessage; });
    });
}
