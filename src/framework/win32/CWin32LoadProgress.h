#pragma once

#include "framework/win32/Win32Api.h"

#include "framework/CFrameworkServices.h"

class CLoadTask;

// Runs one load through a CLoadTask with the window kept alive: while the
// load is short, only messages other than the operator's input are handled
// (the input waits in the queue); a load still going after the show delay
// gets a modal progress dialog, owned by hOwner, with the bytes done, a bar
// and a "取消" button.
//
// User-interface thread only. The job must capture its inputs by value.
class CWin32LoadProgress {
public:
    CWin32LoadProgress(CFrameworkServices& services, HWND hOwner, int nShowDelayMs);

    // False when the operator cancelled the load.
    bool Run(const CFrameworkServices::LoadJob& job, int nReportsPerByte);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);
    // Handles messages other than input until the task has finished or
    // nMilliseconds have gone by.
    static void WaitWithoutInput(const CLoadTask& task, DWORD nMilliseconds);
    // The progress dialog until the task has finished or is cancelled.
    void ShowDialog(CLoadTask& task);
    static void ShowProgress(HWND hDialog, const CLoadTask& task);

    CFrameworkServices& m_services;
    HWND m_hOwner;
    int m_nShowDelayMs;
};
