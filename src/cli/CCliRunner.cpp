#include "cli/CCliRunner.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/CConsole.h"
#include "cli/CConsoleSink.h"
#include "cli/CStopSignal.h"
#include "net/CLNHanlder.h"
#include "net/CSocketLibrary.h"
#include "net/CUDPSocket.h"
#include "send/CInputFile.h"
#include "send/CPacketLoader.h"
#include "send/CSendNotify.h"
#include "send/CSocketSink.h"
#include "send/CSystemClock.h"
#include "send/SendWorker.h"
#include "send/TovrikTexts.h"

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

bool ReadWholeFile(const std::string& strPath, std::string& strContent, std::string& strReason)
{
    CInputFile file;
    if (!file.Open(strPath)) {
        strReason = file.Reason();
        return false;
    }
    std::string strRead;
    char piece[65536];
    for (int64_t n; (n = file.Read(piece, sizeof piece)) != 0;) {
        if (n < 0) {
            strReason = file.Reason();
            return false;
        }
        strRead.append(piece, static_cast<size_t>(n));
    }
    strContent = std::move(strRead);
    return true;
}

void Say(const std::string& strText)
{
    CConsole::Write(stderr, strText + "\n");
}

}  // namespace

int CCliRunner::Run()
{
    CPacketLoader::Result loaded;
    if (m_options.strImport) {
        loaded = CPacketLoader::Import(*m_options.strImport);
    } else {
        std::string strContent = TovrikTexts::kStatusMessage;
        if (m_options.strText) {
            strContent = *m_options.strText;
        } else if (m_options.strTextFile) {
            std::string strReason;
            if (!ReadWholeFile(*m_options.strTextFile, strContent, strReason)) {
                Say(*m_options.strTextFile + ": " + strReason);
                return CCliOptions::kExitLoad;
            }
        }
        loaded = CPacketLoader::LoadText(strContent, m_options.bHex);
    }
    Say(CPacketLoader::Message(loaded));
    if (loaded.nStatus != CPacketLoader::Result::kOk)
        return CCliOptions::kExitLoad;
    if (m_options.bDryRun)
        return CCliOptions::kExitOk;

    // From here on a stop request is taken by the main loop below. (During
    // the load it still ends the process at once.)
    CStopSignal stopSignal;

    CLNHanlder handler;
    theUDPSocket.SetHandler(&handler);
    if (theUDPSocket.Create(0) == 0) {
        Say(std::string("cannot open the UDP endpoint: ") +
            CSocketLibrary::ErrorText(CSocketLibrary::LastError()));
        return CCliOptions::kExitFailure;
    }

    SendSettings settings;
    settings.nMode = static_cast<uint8_t>(m_options.nMode);
    settings.strDeviceInfo = TovrikTexts::kDeviceInfo;
    settings.strTargetIp = m_options.strTarget;
    settings.nTargetPort = m_options.nPort;
    settings.bLoop = m_options.bLoop;
    settings.bModifyTime = m_options.bModifyTime;

    std::atomic<bool> bRunning{true};
    CSystemClock clock;
    CSocketSink socketSink(theUDPSocket.Handle());
    CConsoleSink sink(socketSink, stdout, m_options.bQuiet);
    CCliNotify notify;
    SendWorker worker(settings, std::move(loaded.pPackets), std::move(loaded.pIndex), bRunning, clock, sink, notify);

    const auto start = std::chrono::steady_clock::now();
    std::thread thread(&SendWorker::Run, &worker);

    const auto deadline = m_options.dStopAfter
                              ? start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                            std::chrono::duration<double>(*m_options.dStopAfter))
                              : std::chrono::steady_clock::time_point::max();
    while (!notify.Ended() && std::chrono::steady_clock::now() < deadline) {
        if (stopSignal.Wait(20))
            break;
    }
    bRunning.store(false);
    thread.join();
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    theUDPSocket.Close();
    theUDPSocket.SetHandler(nullptr);

    Say(TovrikTexts::kSendEnded);
    if (!m_options.bQuiet) {
        std::printf("sent %lld datagrams in %.3f s (%.1f per second)\n", sink.Count(), dSeconds,
                    dSeconds > 0 ? static_cast<double>(sink.Count()) / dSeconds : 0.0);
    }
    return CCliOptions::kExitOk;
}
