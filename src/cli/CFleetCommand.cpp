#include "cli/CFleetCommand.h"

#include "cli/CCliOptions.h"
#include "cli/CCliRunner.h"
#include "cli/CRunPrinter.h"
#include "cli/CStopSignal.h"
#include "fleet/CFleetRun.h"
#include "text/TovrikTexts.h"

int CFleetCommand::Run(const CCliOptions& options)
{
    CLoadResult loaded = CCliRunner::Load(options);
    if (loaded.nStatus != CLoadResult::kOk)
        return CCliRunner::LoadExit(loaded);
    // Said once every check has passed: the count says the run starts.
    const std::vector<std::string> loadedLines = CRunPrinter::Loaded(loaded, options.bDryRun);
    CFleetRun run(options.FleetConfig());
    CStatus status = run.Plan(std::move(loaded));
    if (status.IsOk())
        status = run.Check();
    if (!status.IsOk())
        return CRunPrinter::Failed(status);
    CRunPrinter::SayAll(loadedLines);
    CRunPrinter::Banner(run, options);
    for (const std::string& strWarning : run.Warnings())
        CRunPrinter::Say("warning: " + strWarning);
    // The seed first of all: with it a run can be made again.
    if (run.Traffic()) {
        const std::string& strScenario = run.Traffic()->Config().strScenario;
        CRunPrinter::Say("traffic: seed " + std::to_string(run.Seed()) +
                         (strScenario.empty() ? "" : ", scenario " + strScenario));
    }
    if (options.bDryRun)
        return CCliOptions::kExitOk;

    // From here on a stop request is taken by the run, before any of its
    // threads exists.
    CStopSignal stopSignal;
    CRunPrinter printer(options.bQuiet);
    if (run.Traffic() && (run.Traffic()->HasLinkFaults() || run.Traffic()->HasDropouts()))
        printer.ShowFaults(&run.Faults());
    if (run.Pace())
        printer.ShowTarget();
    status = run.ServeMetrics();
    if (!status.IsOk())
        return CRunPrinter::Failed(status);
    if (options.fleet.config.outputs.strMetricsAddress)
        CRunPrinter::Say("metrics: http://" + *options.fleet.config.outputs.strMetricsAddress + ":" +
                         std::to_string(run.MetricsPort()) + "/metrics");
    status = run.Open(printer);
    if (status.IsOk()) {
        CRunPrinter::Matching(run);
        if (options.fleet.config.nStartAtUnixMs != 0)
            CRunPrinter::StartAt(options.fleet.config.nStartAtUnixMs);
        status = run.Run(stopSignal);
    }
    if (!status.IsOk())
        return CRunPrinter::Failed(status);
    printer.EndStatus();

    const CFleetRun::Result result = run.Finish();
    CRunPrinter::Say(TovrikTexts::kSendEnded);
    printer.Summary(result.totals);
    printer.FleetSummary(result.record);
    printer.TrafficSummary(result.record);
    printer.DtlsSummary(run, result.record);
    if (result.record.abort)
        CRunPrinter::Aborted(*result.record.abort);
    if (result.record.capacity) {
        printer.CapacitySummary(*result.record.capacity);
        // A search that measured only the fleet itself has no answer.
        if (result.written.IsOk() && result.record.capacity->dBehindAt)
            return CCliOptions::kExitUndecided;
    }
    return CRunPrinter::Finished(options.fleet.config.outputs.thresholds, result.record.verdicts, result.written,
                                 result.bCrossed || result.totals.AllRefused());
}
