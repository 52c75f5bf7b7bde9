#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/CComboBox.h"
#include "framework/CDialogFrame.h"
#include "load/CLoadResult.h"
#include "load/CTextLoader.h"
#include "net/SocketTypes.h"
#include "send/CSystemClock.h"

class CDialogNotify;
class CSendRun;

// The main window: target, send mode, options and the messages to send; the
// start/stop, clear and import buttons; the worker's notices. It starts one
// run at a time through a CSendRun, on a thread the framework creates, and
// sends through the endpoint's socket.
//
// User-interface thread only. The worker reads a copy of the settings taken
// at the start of its run and shares only the running flag with the window;
// the window stops and joins it before it closes or goes away.
class CTovrikDlg : public CDialogFrame {
public:
    static constexpr char kSettingsFile[] = "Tovrik.ini";
    static constexpr char kSettingsSection[] = "INFO";
    static constexpr char kSettingsKey[] = "sendtype";

    // hSocket: the open endpoint's (theUDPSocket's), which every datagram
    // leaves through; it must stay open while the window lives.
    CTovrikDlg(CFrameworkServices& services, SocketHandle hSocket);
    ~CTovrikDlg() override;

    // Button 1002: starts a run from the text box, or stops the run.
    void OnStartStop();
    // Button 1005: imports a message file and starts a run with it.
    void OnImport();
    // Button 1004: empties the text box and shows the members again.
    void OnClear();
    // Checks the text box as hexadecimal digits and leaves them compact in
    // it; false when it rejected the text (told the operator, emptied it).
    bool NormalizeHexText();

    // A run is on (a worker thread exists).
    bool IsRunning() const { return m_pSendThread != nullptr; }
    // The delay before a load shows its progress.
    void SetProgressDelay(int nMilliseconds) { m_nProgressDelayMs = nMilliseconds; }
    // The settings file: Tovrik.ini in the user's configuration directory.
    static std::string SettingsPath();

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnCommand(int nId) override;
    void OnMessage(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag) override;
    // IDM_ABOUTBOX opens the About box.
    void OnSysCommand(int nId) override;
    // Closing stops and joins a run first; closing is refused while loading.
    bool OnClosing() override;

private:
    void OnSendEnd(uint32_t wParam, intptr_t lParam, uint64_t nRun);
    void OnSendTick(uint32_t wParam, intptr_t lParam, uint64_t nRun);

    // Shows the hex text as the loader left it (the kept digits, or nothing
    // after a rejection); false, with the operator told, when it was rejected.
    bool ShowHexText(const CTextLoader::Prepared& prepared);
    // Runs a load with the window kept alive; kCancelled when the operator
    // cancelled it.
    using Loader = std::function<CLoadResult(const CLoadResult::Progress&)>;
    CLoadResult Load(const Loader& load, int nReportsPerByte);
    // Tells the operator why a load gave nothing to send; true when it did.
    bool CheckLoad(const CLoadResult& result);
    // Starts the worker with the members' settings; false (and told, and idle)
    // when no thread can be created.
    bool StartWorker(std::unique_ptr<PacketList> pPackets, std::unique_ptr<TimeIndex> pIndex);
    // Stops and joins the worker and releases the run.
    void StopWorker();
    void ShowRunning();
    void ShowIdle();

    int m_hIcon;
    std::string m_strDeviceInfo;
    std::string m_strContent;
    std::string m_strTargetIp;
    int32_t m_nTargetPort;
    CComboBox m_cbSendType;
    int m_bLoop = 1;
    int m_bModifyTime = 1;
    int m_bHexMode = 0;
    // The current run (its thread and running flag); null while idle.
    std::unique_ptr<CSendRun> m_pSendThread;

    // What the worker of the current run uses; released after its join.
    CSystemClock m_clock;
    std::unique_ptr<CDialogNotify> m_pNotify;
    // Numbers the runs, so that a late notice is told from the current run's.
    uint64_t m_nRun = 0;
    // The run stopped by closing the window: its end notice shows no box.
    uint64_t m_nClosedRun = 0;
    bool m_bLoading = false;
    int m_nProgressDelayMs;
    SocketHandle m_hSocket;
};
