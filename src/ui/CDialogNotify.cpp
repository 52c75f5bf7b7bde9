#include "ui/CDialogNotify.h"

#include "app/CFrameworkServices.h"
#include "app/Resource.h"

void CDialogNotify::OnSendTick(uint32_t nClockLow)
{
    CFrameworkServices::PostMessage(m_pWindow, WM_SEND_TICK, nClockLow, 0, m_nRun);
}

void CDialogNotify::OnSendEnd()
{
    CFrameworkServices::PostMessage(m_pWindow, WM_SEND_END, 0, 0, m_nRun);
}
