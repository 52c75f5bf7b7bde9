#include "framework/win32/CWin32LoadProgress.h"


#include <algorithm>
#include <iterator>
#include <string>

#include "framework/CLoadTask.h"
#include "framework/DialogTemplate.h"
#include "framework/win32/CWin32DialogTemplate.h"
#include "framework/win32/CWin32DialogWindow.h"
#include "text/CWideText.h"

namespace {

constexpr int kIdText = 100;
constexpr int kIdBar = 101;
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 15;
constexpr int kSteps = 1000;
// The bar's place in dialog units, below the two lines of text.
constexpr RECT kBarRect = {7, 29, 7 + 206, 29 + 9};

using namespace DialogStyle;

const ControlTemplate kProgressControls[] = {
    {kIdText, ControlClass::kStatic, nullptr, 7, 7, 206, 18, kSsLeft},
    {DialogId::kCancel, ControlClass::kButton, "取消", 163, 43, 50, 14, kBsDefPushButton | kWsTabStop},
};

}  // namespace

CWin32LoadProgress::CWin32LoadProgress(CFrameworkServices& services, HWND hOwner, int nShowDelayMs)
    : m_services(services), m_hOwner(hOwner), m_nShowDelayMs(nShowDelayMs)
{
}

bool CWin32LoadProgress::Run(const CFrameworkServices::LoadJob& job, int nReportsPerByte)
{
    CLoadTask task(m_services, job, nReportsPerByte);
    if (m_nShowDelayMs > 0)
        WaitWithoutInput(task, static_cast<DWORD>(m_nShowDelayMs));
    if (!task.Finished()) {
        ShowDialog(task);
        // The load notices at its next progress report, normally at once.
        if (task.Cancelled() && !task.Finished())
            WaitWithoutInput(task, CLoadTask::kCancelWaitMs);
    }
    return task.Completed();
}

void CWin32LoadProgress::WaitWithoutInput(const CLoadTask& task, DWORD nMilliseconds)
{
    const ULONGLONG nEnd = GetTickCount64() + nMilliseconds;
    while (!task.Finished()) {
        const ULONGLONG nNow = GetTickCount64();
        if (nNow >= nEnd)
            break;
        const DWORD nWait = static_cast<DWORD>(std::min<ULONGLONG>(nEnd - nNow, kPollMs));
        MsgWaitForMultipleObjects(0, nullptr, FALSE, nWait, QS_POSTMESSAGE | QS_SENDMESSAGE | QS_PAINT | QS_TIMER);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE | PM_QS_PAINT)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void CWin32LoadProgress::ShowDialog(CLoadTask& task)
{
    const std::string strCaption = m_services.AppName();
    const DialogTemplate progressTemplate = {
        0, strCaption.c_str(), 220, 64, "MS Shell Dlg", 9,
        // Centred on the work area.
        kDsShellFont | kDsModalFrame | DS_CENTER | WS_POPUP | kWsCaption | kWsSysMenu, 0,
        kProgressControls, std::size(kProgressControls),
    };
    const CWin32DialogTemplate dialogTemplate(progressTemplate);
    const HWND hDialog =
        CreateDialogIndirectParamW(GetModuleHandleW(nullptr), static_cast<LPCDLGTEMPLATEW>(dialogTemplate.Data()),
                                   m_hOwner, DialogProc, reinterpret_cast<LPARAM>(&task));
    if (hDialog == nullptr) {
        WaitWithoutInput(task, INFINITE);
        return;
    }
    const bool bDisableOwner = m_hOwner != nullptr && IsWindowEnabled(m_hOwner);
    if (bDisableOwner)
        EnableWindow(m_hOwner, FALSE);
    ShowProgress(hDialog, task);
    ShowWindow(hDialog, SW_SHOW);
    SetTimer(hDialog, kPollTimer, kPollMs, nullptr);

    while (!task.Finished() && !task.Cancelled()) {
        if (!CWin32DialogWindow::PumpMessage(hDialog)) {
            task.Cancel();
            break;
        }
    }

    KillTimer(hDialog, kPollTimer);
    // The owner first, so that it gets the activation back.
    if (bDisableOwner)
        EnableWindow(m_hOwner, TRUE);
    DestroyWindow(hDialog);
}

void CWin32LoadProgress::ShowProgress(HWND hDialog, const CLoadTask& task)
{
    const HWND hText = GetDlgItem(hDialog, kIdText);
    const std::string strText = task.ProgressText();
    if (CWin32DialogWindow::WindowText(hText) != strText)
        SetWindowTextW(hText, CWideText::Widen(strText).c_str());
    SendDlgItemMessageW(hDialog, kIdBar, PBM_SETPOS, static_cast<WPARAM>(task.ProgressSteps(kSteps)), 0);
}

INT_PTR CALLBACK CWin32LoadProgress::DialogProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    switch (nMessage) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        RECT bar = kBarRect;
        MapDialogRect(hWnd, &bar);
        const HWND hBar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, bar.left, bar.top,
                                          bar.right - bar.left, bar.bottom - bar.top, hWnd,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdBar)),
                                          GetModuleHandleW(nullptr), nullptr);
        SendMessageW(hBar, PBM_SETRANGE32, 0, kSteps);
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == kPollTimer) {
            ShowProgress(hWnd, *reinterpret_cast<CLoadTask*>(GetWindowLongPtrW(hWnd, DWLP_USER)));
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND:
        // The button, Escape and the close box.
        if (LOWORD(wParam) == DialogId::kCancel) {
            reinterpret_cast<CLoadTask*>(GetWindowLongPtrW(hWnd, DWLP_USER))->Cancel();
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
