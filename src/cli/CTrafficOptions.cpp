#include "cli/CTrafficOptions.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "traffic/CRandom.h"
#include "traffic/CScenario.h"

namespace {

const char kGroup[] = "Traffic";

// The options as given, kept as text until the rules read them.
struct Given {
    std::vector<std::string> vary;
    std::optional<std::string> strLoss;
    std::optional<std::string> strDuplicate;
    std::optional<std::string> strReorder;
    std::optional<std::string> strJitter;
    std::optional<std::string> strCorrupt;
    std::optional<std::string> strChurn;
    std::vector<std::string> outages;
    std::optional<std::string> strScenario;
    std::optional<std::string> strSeed;

    // The options' own config, and the scenario file's under it.
    CTrafficConfig options;
    CTrafficConfig file;
};

// A rule of the traffic options: reads what it is about and answers what is
// wrong (after "OPTION: "), or nothing.
using Check = std::string (*)(Given& given);

// An option whose name is a key of the core's settings (--loss: "loss").
std::string ReadKey(const char* pszKey, const std::optional<std::string>& strText, Given& given)
{
    if (!strText)
        return std::string();
    return CTrafficConfig::Set(pszKey, *strText, given.options.start, given.options.nStartKeys).Message();
}

struct Rule {
    const char* pszOption;
    Check check;
};

// In the order they are checked: the first broken rule is the one said.
const Rule kRules[] = {
    {"--scenario",
     [](Given& g) {
         if (!g.strScenario)
             return std::string();
         const CStatus read = CScenario::ReadFile(*g.strScenario, g.file);
         return read.IsOk() ? std::string() : read.Message();
     }},
    {"--seed",
     [](Given& g) {
         uint64_t nSeed = 0;
         if (!g.strSeed)
             return std::string();
         const CStatus read = CRandom::ReadSeed(*g.strSeed, nSeed);
         if (read.IsOk())
             g.options.seed = nSeed;
         return read.Message();
     }},
    {"--vary",
     [](Given& g) {
         for (const std::string& strText : g.vary) {
             CTrafficConfig::Vary vary;
             CStatus status = CTrafficConfig::ReadVary(strText, vary);
             if (status.IsOk())
                 status = g.options.AddVary(vary);
             if (!status.IsOk())
                 return status.Message();
         }
         return std::string();
     }},
    {"--loss", [](Given& g) { return ReadKey("loss", g.strLoss, g); }},
    {"--duplicate", [](Given& g) { return ReadKey("duplicate", g.strDuplicate, g); }},
    {"--reorder", [](Given& g) { return ReadKey("reorder", g.strReorder, g); }},
    {"--jitter", [](Given& g) { return ReadKey("jitter", g.strJitter, g); }},
    {"--corrupt", [](Given& g) { return ReadKey("corrupt", g.strCorrupt, g); }},
    {"--churn", [](Given& g) { return ReadKey("churn", g.strChurn, g); }},
    {"--outage",
     [](Given& g) {
         for (const std::string& strText : g.outages) {
             COutage outage;
             const CStatus read = COutage::Read(strText, true, outage);
             if (!read.IsOk())
                 return read.Message();
             g.options.outages.push_back(outage);
         }
         return std::string();
     }},
};

void AddOptions(CLI::App& app, Given& given)
{
    app.add_option("--vary", given.vary,
                   "Give a member generated values, MEMBER=GENERATOR[,decimals=N] (repeatable): uniform(LO,HI), "
                   "normal(MEAN,SD), walk(LO,HI,STEP), sine(LO,HI,PERIOD[,NOISE]), pick(V1,V2,...), "
                   "cycle(V1,V2,...), device(LO,HI)")
        ->allow_extra_args(false);
    app.add_option("--loss", given.strLoss,
                   "Drop datagrams before sending, P[,burst=N]: probability P (0.05 or 5%), in runs of N on average");
    app.add_option("--duplicate", given.strDuplicate,
                   "Send a second copy, P[,delay=DELAY]: with probability P, at once or DELAY later");
    app.add_option("--reorder", given.strReorder,
                   "Hold datagrams back so that later ones overtake them, P[,by=DELAY] (default by: 1.5 periods)");
    app.add_option("--jitter", given.strJitter,
                   "Delay every datagram by a duration or uniform(LO,HI), normal(MEAN,SD), exponential(MEAN)");
    app.add_option("--corrupt", given.strCorrupt,
                   "Corrupt datagrams, P[,KIND...]: with probability P, KIND truncate, flip or break-json (default: "
                   "any)");
    app.add_option("--churn", given.strChurn,
                   "Devices drop out RATE times an hour each for DURATION, then come back restarted: RATE,DURATION");
    app.add_option("--outage", given.outages,
                   "The whole fleet silent at AT for DURATION, back within SPREAD: AT,DURATION[,return=SPREAD] "
                   "(repeatable)")
        ->allow_extra_args(false);
    app.add_option("--scenario", given.strScenario,
                   "Traffic that changes in the course of the run: stages read from a JSON file");
    app.add_option("--seed", given.strSeed,
                   "Seed of the generated values and faults (default: a random one, printed at the start)");
}

}  // namespace

void CTrafficOptions::AddTo(CLI::App& app, CTrafficConfig& config, bool& bGiven)
{
    auto pGiven = std::make_shared<Given>();
    const size_t nBefore = app.get_options().size();
    AddOptions(app, *pGiven);
    const std::vector<CLI::Option*> added = app.get_options();
    for (size_t i = nBefore; i < added.size(); ++i)
        added[i]->group(kGroup);
    app.parse_complete_callback([&config, &bGiven, pGiven]() {
        Given& given = *pGiven;
        for (const Rule& rule : kRules) {
            const std::string strWrong = rule.check(given);
            if (!strWrong.empty())
                throw CLI::ValidationError(rule.pszOption, strWrong);
        }
        config = given.file;
        config.Override(given.options);
        bGiven = config.Used() || given.strScenario.has_value();
    });
}
