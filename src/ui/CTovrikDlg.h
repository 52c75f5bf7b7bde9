#pragma once

#include <QIcon>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/CDialogFrame.h"
#include "load/CLoadResult.h"
#include "send/CSystemClock.h"

class CDialogNotify;
class CSocketSink;
class QComboBox;
class QMenu;
class SendWorker;

// The main window: target, send mode, options and the messages to send; the
// start/stop, clear and import buttons; the worker's notices. It starts one
// send worker at a time on a thread of its own and sends through
// theUDPSocket, which must be open.
//
// User-interface thread only. The worker reads a copy of the settings taken
// at the start of its run and shares only m_bRunning with the window; the
// window stops and joins it before it closes or goes away.
class CTovrikDlg : public CDialogFrame {
    Q_OBJECT

public:
    static constexpr char kSettingsFile[] = "Tovrik.ini";
    static constexpr char kSettingsSection[] = "INFO";
    static constexpr char kSettingsKey[] = "sendtype";

    explicit CTovrikDlg(CFrameworkServices& services, QWidget* pParent = nullptr);
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
    // A command of the window's menu; IDM_ABOUTBOX opens the About box.
    void OnSysCommand(int nId);

    // A run is on (a worker thread exists).
    bool IsRunning() const { return m_pSendThread != nullptr; }
    // The delay before a load shows its progress dialog.
    void SetProgressDelay(int nMilliseconds) { m_nProgressDelayMs = nMilliseconds; }
    // The settings file: Tovrik.ini in the user's configuration directory.
    static std::string SettingsPath();

protected:
    void CreateControls() override;
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnMessage(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag) override;
    // Closing stops and joins a run first; closing is refused while loading.
    void done(int nResult) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void OnSendEnd(uint32_t wParam, intptr_t lParam, uint64_t nRun);
    void OnSendTick(uint32_t wParam, intptr_t lParam, uint64_t nRun);

    // Runs a load with the window kept alive (see CLoadProgress::Run).
    CLoadResult Load(const std::function<CLoadResult(const CLoadResult::Progress&)>& job,
                               int nReportsPerByte);
    // Tells the operator why a load gave nothing to send; true when it did.
    bool CheckLoad(const CLoadResult& result);
    // Starts the worker with the members' settings; false (and told, and idle)
    // when no thread can be created.
    bool StartWorker(std::unique_ptr<PacketList> pPackets, std::unique_ptr<TimeIndex> pIndex);
    // Clears the running flag, joins the worker and releases it.
    void StopWorker();
    void ShowRunning();
    void ShowIdle();
    void ShowSystemMenu(const QPoint& globalPos);

    QIcon m_hIcon;
    std::string m_strDeviceInfo;
    std::string m_strContent;
    std::string m_strTargetIp;
    int32_t m_nTargetPort;
    QComboBox* m_cbSendType = nullptr;
    int m_bLoop = 1;
    int m_bModifyTime = 1;
    int m_bHexMode = 0;
    std::unique_ptr<std::thread> m_pSendThread;
    std::atomic<bool> m_bRunning{false};

    // What the worker of the current run uses; released after its join.
    CSystemClock m_clock;
    std::unique_ptr<CSocketSink> m_pSink;
    std::unique_ptr<CDialogNotify> m_pNotify;
    std::unique_ptr<SendWorker> m_pWorker;
    // Numbers the runs, so that a late notice is told from the current run's.
    uint64_t m_nRun = 0;
    // The run stopped by closing the window: its end notice shows no box.
    uint64_t m_nClosedRun = 0;
    bool m_bLoading = false;
    int m_nProgressDelayMs;
    QMenu* m_pSystemMenu = nullptr;
};
