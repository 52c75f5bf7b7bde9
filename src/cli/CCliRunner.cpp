#include "cli/CCliRunner.h"

#include <atomic>

#include "base/CRunWait.h"
#include "cli/CConsoleSink.h"
#include "cli/CRunPrinter.h"
#include "cli/CStopSignal.h"
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

// The process's endpoint for the length of one run: opened with its
// receive handler, closed and without it again however the run ends.
class CEndpoint {
public:
    CEndpoint() { theUDPSocket.SetHandler(&m_handler); }
    ~CEndpoint()
    {
        theUDPSocket.Close();
        theUDPSocket.SetHandler(nullptr);
    }
    CEndpoint(const CEndpoint&) = delete;
    CEndpoint& operator=(const CEndpoint&) = delete;

    CStatus Open(int nFamily, bool bBroadcast)
    {
        CStatus opened = theUDPSocket.Open(0, nFamily);
        if (opened.IsOk() && bBroadcast)
            opened = theUDPSocket.SetBroadcast(true);
        return opened;
    }

private:
    CLNHanlder m_handler;
};

}  // namespace

CLoadResult CCliRunner::Load(const CCliOptions& options)
{
    CLoadResult loaded = options.source.Load();
    if (loaded.nStatus != CLoadResult::kOk)
        CRunPrinter::SayAll(CRunPrinter::Loaded(loaded, options.bDryRun));
    return loaded;
}

int CCliRunner::LoadExit(const CLoadResult& loaded)
{
    return loaded.nStatus == CLoadResult::kBadFilter ? CCliOptions::kExitUsage : CCliOptions::kExitLoad;
}

int CCliRunner::TargetFamily(int& nExit) const
{
    sockaddr_storage target{};
    SocketLength nTargetLength = 0;
    if (!CTargetAddress::Resolve(m_options.strTarget, m_options.nFamily, static_cast<uint16_t>(m_options.nPort),
                                 target, nTargetLength)) {
        CRunPrinter::Say("warning: '" + m_options.strTarget +
                         "' does not resolve now; it is looked up again at every send");
        return m_options.nFamily == AF_INET6 ? AF_INET6 : AF_INET;
    }
    const std::string strRefusal = CTargetAddress::Refusal(m_options.strTarget, target, m_options.bBroadcast);
    if (!strRefusal.empty()) {
        CRunPrinter::Say(strRefusal);
        nExit = CCliOptions::kExitUsage;
    }
    return target.ss_family;
}

int CCliRunner::Run()
{
    CLoadResult loaded = Load(m_options);
    if (loaded.nStatus != CLoadResult::kOk)
        return LoadExit(loaded);
    int nExit = CCliOptions::kExitOk;
    const int nFamily = TargetFamily(nExit);
    if (nExit != CCliOptions::kExitOk)
        return nExit;
    CRunPrinter::SayAll(CRunPrinter::Loaded(loaded, m_options.bDryRun));
    if (m_options.bDryRun)
        return nExit;
    return Send(std::move(loaded), nFamily);
}

int CCliRunner::Send(CLoadResult loaded, int nFamily)
{
    // From here on a stop request is taken by the wait below. (During the
    // load it still ends the process at once.)
    CStopSignal stopSignal;
    CEndpoint endpoint;
    const CStatus opened = endpoint.Open(nFamily, m_options.bBroadcast);
    if (!opened.IsOk())
        return CRunPrinter::Failed(CStatus::Error("cannot open the UDP endpoint: " + opened.Message()));

    SendSettings settings;
    settings.mode = m_options.nMode;
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
    const CStatus started =
        run.Start(settings, std::move(loaded.pPackets), std::move(loaded.pIndex), notify, &sink);
    if (!started.IsOk())
        return CRunPrinter::Failed(CStatus::Error("cannot start the send thread: " + started.Message()));
    wait.Wait([&notify] { return notify.Ended(); });
    run.Stop();

    CSendTotals totals;
    totals.nSent = sink.Count();
    totals.nFailed = sink.Failed();
    totals.dSeconds = wait.Seconds();
    CRunPrinter::Say(TovrikTexts::kSendEnded);
    const CRunPrinter printer(m_options.bQuiet);
    printer.Summary(totals);
    return CRunPrinter::Finished({}, {}, CStatus(), totals.AllRefused());
}
