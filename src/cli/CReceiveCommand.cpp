#include "cli/CReceiveCommand.h"

#include <CLI/CLI.hpp>

#include "cli/CCliOptions.h"
#include "cli/CDtlsOptions.h"
#include "cli/CEndpointOption.h"
#include "cli/CReceivePrinter.h"
#include "cli/CRunOptions.h"
#include "cli/CStopSignal.h"
#include "net/CSocketLibrary.h"
#include "packet/CDeviceMessage.h"
#include "receive/CReceiveRun.h"
#include "receive/CReceiveThresholds.h"
#include "text/CDecimal.h"
#include "text/CTextList.h"
#include "text/TovrikTexts.h"
#include "traffic/COptionText.h"
#include "traffic/CRandom.h"

namespace {

const char kMembersPrefix[] = "members:";

// The options as given, kept as text until the rules read them.
struct Given {
    std::string strListen = "0.0.0.0:" + std::to_string(TovrikTexts::kDefaultPort);
    std::optional<std::string> strCounter;
    std::optional<std::string> strAnswer;
    std::optional<std::string> strAnswerDelay;
    std::optional<std::string> strAnswerDrop;
    std::optional<std::string> strSeed;
    std::optional<std::string> strStopAfter;
    std::optional<std::string> strCapacity;
};

std::string Quoted(const std::string& strText)
{
    return "'" + strText + "'";
}

// A rule of receive's options: reads what it is about into the options and
// answers what is wrong (after "OPTION: "), or nothing.
using Check = std::string (*)(const Given& given, CReceiveCommand::Options& options);

std::string ReadListen(const Given& given, CReceiveCommand::Options& options)
{
    return CEndpointOption::ReadListen(given.strListen, options.config.strAddress, options.config.nPort);
}

std::string ReadCounter(const Given& given, CReceiveCommand::Options& options)
{
    if (!given.strCounter)
        return std::string();
    options.config.strCounter = *given.strCounter;
    if (!CDeviceMessage::IsUsersMember(*given.strCounter))
        return CDeviceMessage::kUsersMemberRule;
    return std::string();
}

std::string ReadAnswer(const Given& given, CReceiveCommand::Options& options)
{
    CReceiveConfig& config = options.config;
    if (!given.strAnswer)
        return std::string();
    const std::string& strAnswer = *given.strAnswer;
    if (strAnswer == "echo") {
        config.nAnswer = CReceiveConfig::Answer::kEcho;
        return std::string();
    }
    const std::string strBad = Quoted(strAnswer) + " is not echo or members:M1,M2,...";
    if (strAnswer.compare(0, sizeof kMembersPrefix - 1, kMembersPrefix) != 0)
        return strBad;
    config.nAnswer = CReceiveConfig::Answer::kMembers;
    config.answerMembers = CTextList::Split(strAnswer.substr(sizeof kMembersPrefix - 1), ',');
    for (size_t i = 0; i < config.answerMembers.size(); ++i) {
        const std::string& strMember = config.answerMembers[i];
        if (strMember.empty())
            return strBad + " (a member's name is empty)";
        for (size_t j = 0; j < i; ++j) {
            if (config.answerMembers[j] == strMember)
                return strBad + " (it names " + strMember + " twice)";
        }
    }
    return std::string();
}

std::string ReadAnswerDelay(const Given& given, CReceiveCommand::Options& options)
{
    if (!given.strAnswerDelay)
        return std::string();
    if (!given.strAnswer)
        return "goes with --answer only";
    return CDelay::Read(*given.strAnswerDelay, options.config.answerDelay).Message();
}

std::string ReadAnswerDrop(const Given& given, CReceiveCommand::Options& options)
{
    if (!given.strAnswerDrop)
        return std::string();
    if (!given.strAnswer)
        return "goes with --answer only";
    if (!COptionText::ReadProbability(*given.strAnswerDrop, options.config.dAnswerDrop))
        return Quoted(*given.strAnswerDrop) + " is not a ratio from 0 to 1 or a percentage (5%)";
    return std::string();
}

std::string ReadCapacity(const Given& given, CReceiveCommand::Options& options)
{
    if (!given.strCapacity)
        return std::string();
    if (!given.strAnswer)
        return "goes with --answer only: it limits the answers";
    double dCapacity = 0;
    const CStatus read = CReceiveConfig::ReadCapacity(*given.strCapacity, dCapacity, options.config.nCapacityQueue);
    if (read.IsOk())
        options.config.dCapacity = dCapacity;
    return read.Message();
}

std::string ReadSeed(const Given& given, CReceiveCommand::Options& options)
{
    if (!given.strSeed) {
        options.config.nSeed = CRandom::FreshSeed();
        return std::string();
    }
    return CRandom::ReadSeed(*given.strSeed, options.config.nSeed).Message();
}

std::string ReadStopAfter(const Given& given, CReceiveCommand::Options& options)
{
    return given.strStopAfter
               ? CCliOptions::CheckStopAfter(*given.strStopAfter, options.config.outputs.dStopAfter)
               : std::string();
}

struct Rule {
    const char* pszOption;
    Check check;
};

// In the order they are checked: the first broken rule is the one said.
constexpr Rule kRules[] = {
    {"--listen", ReadListen},
    {"--counter", ReadCounter},
    {"--answer", ReadAnswer},
    {"--answer-delay", ReadAnswerDelay},
    {"--answer-drop", ReadAnswerDrop},
    {"--capacity", ReadCapacity},
    {"--seed", ReadSeed},
    {"--stop-after", ReadStopAfter},
};

void AddOptions(CLI::App& app, Given& given, CReceiveCommand::Options& options)
{
    app.add_option("-l,--listen", given.strListen,
                   "Address and port to receive on: IPv4, or IPv6 in brackets ([::]:51609)")
        ->capture_default_str();
    app.add_option("--counter", given.strCounter,
                   "Root member that counts up by one with each datagram of a device: tells lost, duplicates and "
                   "reordered");
    app.add_option("--answer", given.strAnswer,
                   "Answer each datagram: echo (the datagram back) or members:M1,M2,... (a JSON object of those "
                   "members of the message)");
    app.add_option("--answer-delay", given.strAnswerDelay,
                   "Hold each answer this long (20ms) or a draw of uniform(A,B), normal(MEAN,SD) or "
                   "exponential(MEAN)");
    app.add_option("--answer-drop", given.strAnswerDrop, "Leave this share of answers unsent: a ratio or 5%");
    app.add_option("--capacity", given.strCapacity,
                   "Answer as a server that saturates: at most R a second, one after the other, up to N waiting "
                   "(default a tenth of a second's), none beyond: R[/s][,queue=N]");
    app.add_option("--seed", given.strSeed, "Seed of the answers' random draws (default: a random one, printed)");
    app.add_option("--stop-after", given.strStopAfter, "Stop after this long (90s, 10min; a number alone is seconds)");
    app.add_flag("-q,--quiet", options.bQuiet, "No status line, no malformed datagrams shown, no summary");
}

}  // namespace

CReceiveCommand::Options CReceiveCommand::Parse(int argc, char** argv, std::optional<int>& nExit, std::ostream& out,
                                                std::ostream& err)
{
    Options options;
    Given given;
    CLI::App app{"Receives device traffic over UDP: counts each device's datagrams, tells what was lost, "
                 "duplicated, reordered or malformed, and answers as a server would.",
                 std::string("tovrik-cli ") + kName};
    app.allow_windows_style_options(false);
    AddOptions(app, given, options);
    CRunOptions run(app, options.config.outputs, CReceiveThresholds::Metrics(), false);
    CDtlsOptions dtls(app, options.config.dtls, CDtlsOptions::Side::kReceiver);
    try {
        // The command's name is not one of its arguments.
        app.parse(argc - 1, argv + 1);
        for (const Rule& rule : kRules) {
            const std::string strWrong = rule.check(given, options);
            if (!strWrong.empty())
                throw CLI::ValidationError(rule.pszOption, strWrong);
        }
        if (const auto wrong = run.Read())
            throw CLI::ValidationError(wrong->first, wrong->second);
        if (const auto wrong = dtls.Read())
            throw CLI::ValidationError(wrong->first, wrong->second);
        const CStatus thresholds = options.config.CheckThresholds();
        if (!thresholds.IsOk())
            throw CLI::ValidationError(thresholds.Message());
    } catch (const CLI::CallForHelp& e) {
        nExit = app.exit(e, out, err);
        return options;
    } catch (const CLI::ParseError& e) {
        app.exit(e, out, err);
        nExit = CCliOptions::kExitUsage;
        return options;
    }
    options.config.outputs.commandLine.assign(argv, argv + argc);
    return options;
}

int CReceiveCommand::Run(int argc, char** argv, const CSocketLibrary& sockets)
{
    std::optional<int> nExit;
    const Options options = Parse(argc, argv, nExit);
    if (nExit)
        return *nExit;
    if (!sockets.IsStarted()) {
        CReceivePrinter::Say(TovrikTexts::kSocketInitFailed);
        return CCliOptions::kExitFailure;
    }
    const CReceiveConfig& config = options.config;
    CReceiveRun run(config);
    CStatus status = run.Check();
    if (status.IsOk())
        status = run.Open();
    if (!status.IsOk())
        return CReceivePrinter::Failed(status);

    // From here on a stop request is taken by the run, before any of its
    // threads exists.
    CStopSignal stopSignal;
    CReceivePrinter printer(options.bQuiet);
    printer.Banner(run, config);
    status = run.ServeMetrics();
    if (!status.IsOk())
        return CReceivePrinter::Failed(status);
    if (config.outputs.strMetricsAddress)
        CReceivePrinter::Say("metrics: http://" + *config.outputs.strMetricsAddress + ":" +
                             std::to_string(run.MetricsPort()) + "/metrics");
    status = run.Run(stopSignal, printer);
    if (!status.IsOk())
        return CReceivePrinter::Failed(status);
    printer.EndStatus();

    const CReceiveRun::Result result = run.Finish();
    printer.Summary(result.record);
    return CReceivePrinter::Finished(config.outputs.thresholds, result.record.verdicts, result.written,
                                     result.bCrossed);
}
