#pragma once

#include <cstdint>

#include "send/CSendNotify.h"

class CDialogWindow;

// Hands the worker's notices to the window: each one is posted to the
// window's thread as WM_SEND_TICK or WM_SEND_END, tagged with the run that
// sent it. Never blocks. The window must outlive the worker's last notice.
class CDialogNotify : public CSendNotify {
public:
    CDialogNotify(CDialogWindow& window, uint64_t nRun) : m_window(window), m_nRun(nRun) {}

    void OnSendTick(uint32_t nClockLow) override;
    void OnSendEnd() override;

private:
    CDialogWindow& m_window;
    uint64_t m_nRun;
};
