#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "figures/CVerdict.h"
#include "run/CRunOutputs.h"
#include "verdict/CThreshold.h"

class CMetricsServer;
class CRunWait;
class CStopSource;

// What every kind of run (a fleet, a receiver, a capacity search) does
// around its own work, by the outputs its front end asked for: it checks
// that its files can be written before anything starts, serves its figures
// for Prometheus while it goes, waits for its end (by itself, after
// --stop-after or on a stop request) with a call each second, judges its
// thresholds and writes its stats file and report however it ended. The run
// owns its shell and takes it through these in order, from one thread; the
// metrics body is called from the server's thread until the shell goes.
class CRunShell {
public:
    // Makes the report's page from the stats file's text (or fails saying
    // why).
    using ReportMaker = std::function<CStatus(const std::string& strJson, std::string& strHtml)>;

    explicit CRunShell(CRunOutputs outputs);
    ~CRunShell();
    CRunShell(const CRunShell&) = delete;
    CRunShell& operator=(const CRunShell&) = delete;

    const CRunOutputs& Outputs() const { return m_outputs; }

    // Each file asked for can be written: said now rather than after a long
    // run.
    [[nodiscard]] CStatus CheckFiles() const;
    // Serves body's text at the metrics address from now until the shell
    // goes, when one was asked for.
    [[nodiscard]] CStatus ServeMetrics(std::function<std::string()> body);
    // The port served at, once serving.
    uint16_t MetricsPort() const;

    // The run starts: at once, or at the instant nStartAtUnixMs on the
    // calendar when it lies ahead (the wait ends on a stop request, and
    // follows the calendar when the clock is set meanwhile); its clock and
    // its instant on the calendar from then. Its waits end on a request of
    // stop (which must outlive the shell's use). Answers false when a stop
    // request came before the instant: the run has ended then, at once.
    bool Start(CStopSource& stop, int64_t nStartAtUnixMs = 0);
    int64_t StartUnixMs() const { return m_nStartUnixMs; }
    // Returns when ended() answers true, the time given is up or a stop was
    // requested; onSecond is called at each whole second of the run
    // meanwhile. After Start.
    void Wait(const std::function<bool()>& ended, const std::function<void()>& onSecond);
    // From Start to the end of the last Wait.
    double Seconds() const { return m_dSeconds; }

    // The thresholds judged on the figures, their verdicts appended;
    // answers whether any was crossed.
    bool Judge(const CThreshold::Figures& figures, std::vector<CVerdict>& verdicts) const;
    // With --abort-on-fail, each second once nGraceNs of the run has
    // passed: the thresholds judged on the figures of the window that ends
    // with second nSecond; the first crossing ends the run (a Wait returns
    // at once) and is kept. Answers whether the run is aborted.
    bool JudgeWindow(const CThreshold::Figures& figures, uint64_t nSecond, double dWindowSeconds);
    const std::optional<CRunRecord::Abort>& Aborted() const { return m_abort; }
    // Writes the stats file (strJson) and the report (made from strJson)
    // asked for; each is tried, and a failure names its file.
    [[nodiscard]] CStatus Write(const std::string& strJson, const ReportMaker& report) const;

private:
    const CRunOutputs m_outputs;
    std::unique_ptr<CMetricsServer> m_pMetrics;
    std::unique_ptr<CRunWait> m_pWait;
    int64_t m_nStartUnixMs = 0;
    double m_dSeconds = 0;
    std::optional<CRunRecord::Abort> m_abort;
};
