#include "cli/CCliRunner.h"

#include <atomic>
#include <cstdio>

#include "capture/CCaptureLoader.h"
#include "capture/CCaptureReader.h"
#include "cli/CConsole.h"
#include "cli/CConsoleSink.h"
#include "cli/CRunWait.h"
#include "cli/CStopSignal.h"
#include "load/CFileLoader.h"
#include "load/CTextLoader.h"
#include "net/CLNHanlder.h"
#include "net/CTargetAddress.h"
#include "net/CUDPSocket.h"
#include "send/CSendNotify.h"
#include "send/CSendRun.h"
#include "send/CSystemClock.h"
#include "text/TovrikTexts.h"

namespace {

// The command line takes the worker's notices itself: ticks need nothing,
// the end is noted for the main loop.
class CCliNotify : public CSendNotify {
public:
    void OnSendTick(uint32_t) override {}
    void OnSendEnd() override { m_bEnded.store(true); }
    bool Ended() const { return m_bEnded.load(); }

private:
    std::atomic<bool> m_bEnded{false};
};

void Say(const std::string& strText)
{
    CConsole::Write(stderr, strText + "\n");
}

}  // namespace

CLoadResult CCliRunner::Load(const CCliOptions& options)
{
    CLoadResult loaded;
    if (options.strImport && CCaptureReader::IsCapture(*options.strImport))
        loaded = CCaptureLoader::Load(*options.strImport, options.strCaptureFilter);
    else if (options.strImport)
        loaded = CFileLoader::Import(*options.strImport);
    else if (options.strTextFile)
        loaded = CFileLoader::LoadTextFile(*options.strTextFile, options.bHex);
    else
        loaded = CTextLoader::Load(options.strText ? *options.strText : TovrikTexts::kStatusMessage, options.bHex);
    if (!loaded.strSummary.empty())
        Say(loaded.strSummary);
    Say(loaded.Message());
    if (loaded.bCutStopped)
        Say(loaded.CutStopMessage());
    return loaded;
}

int CCliRunner::LoadExit(const CLoadResult& loaded)
{
    return loaded.nStatus == CLoadResult::kBadFilter ? CCliOptions::kExitUsage : CCliOptions::kExitLoad;
}

int CCliRunner::Run()
{
    CLoadResult loaded = Load(m_options);
    if (loaded.nStatus != CLoadResult::kOk)
        return LoadExit(loaded);
    if (m_options.bDryRun)
        return CCliOptions::kExitOk;

    // The socket's family follows the target's address now; a name that
    // does not resolve yet gets the family asked for, else IPv4.
    sockaddr_storage target{};
    SocketLength nTargetLength = 0;
    int nFamily = m_options.nFamily == AF_INET6 ? AF_INET6 : AF_INET;
    if (CTargetAddress::Resolve(m_options.strTarget, m_options.nFamily, static_cast<uint16_t>(m_options.nPort), target,
                                nTargetLength)) {
        nFamily = target.ss_family;
        const std::string strRefusal = m_options.RefusalOf(target);
        if (!strRefusal.empty()) {
            Say(strRefusal);
            return CCliOptions::kExitUsage;
        }
    } else {
        Say("warning: '" + m_options.strTarget + "' does not resolve now; it is looked up again at every send");
    }

    // From here on a stop request is taken by the main loop below. (During
    // the load it still ends the process at once.)
    CStopSignal stopSignal;

    CLNHanlder handler;
    theUDPSocket.SetHandler(&handler);
    CStatus opened = theUDPSocket.Open(0, nFamily);
    if (opened.IsOk() && m_options.bBroadcast)
        opened = theUDPSocket.SetBroadcast(true);
    if (!opened.IsOk()) {
        theUDPSocket.Close();
        Say("cannot open the UDP endpoint: " + opened.Message());
        return CCliOptions::kExitFailure;
    }

    SendSettings settings;
    settings.nMode = static_cast<uint8_t>(m_options.nMode);
    settings.strDeviceInfo = TovrikTexts::kDeviceInfo;
    settings.strTargetIp = m_options.strTarget;
    settings.nTargetPort = m_options.nPort;
    settings.bLoop = m_options.bLoop;
    settings.bModifyTime = m_options.bModifyTime;

    CSystemClock clock;
    CSendRun run(theUDPSocket.Handle(), clock, m_startThread);
    CConsoleSink sink(run.SocketSink(), stdout, m_options.bQuiet);
    CCliNotify notify;
    CRunWait wait(stopSignal, m_options.dStopAfter);
    std::string strError;
    if (!run.Start(settings, std::move(loaded.pPackets), std::move(loaded.pIndex), notify, strError, &sink)) {
        Say("cannot start the send thread: " + strError);
        theUDPSocket.Close();
        theUDPSocket.SetHandler(nullptr);
        return CCliOptions::kExitFailure;
    }

    wait.Wait([&notify] { return notify.Ended(); });
    run.Stop();
    const double dSeconds = wait.Seconds();
    theUDPSocket.Close();
    theUDPSocket.SetHandler(nullptr);

    Say(TovrikTexts::kSendEnded);
    if (!m_options.bQuiet) {
        std::printf("sent %lld datagrams in %.3f s (%.1f per second); %lld could not be sent\n", sink.Count(),
                    dSeconds, dSeconds > 0 ? static_cast<double>(sink.Count()) / dSeconds : 0.0, sink.Failed());
    }
    // Sends were tried and none went out: the run failed, whatever it was for.
    return sink.Count() == 0 && sink.Failed() > 0 ? CCliOptions::kExitCrossed : CCliOptions::kExitOk;
}
