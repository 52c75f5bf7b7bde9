#include "ui/CDialogNotify.h"

#include "framework/CDialogWindow.h"
#include "ui/Resource.h"

void CDialogNotify::OnSendTick(uint32_t nClockLow)
{
    m_window.Post(WM_SEND_TICK, nClockLow, 0, m_nRun);
}

void CDialogNotify::OnSendEnd()
{
    m_window.Post(WM_SEND_END, 0, 0, m_nRun);
}
