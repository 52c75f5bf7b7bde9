#include "fleet/CFleetRun.h"

#include <algorithm>
#include <thread>

#include "base/CProcessUsage.h"
#include "base/CRunWait.h"
#include "report/CHtmlReport.h"
#include "report/CStatsMerger.h"
#include "dtls/CDtlsContext.h"
#include "fleet/CDeviceSockets.h"
#include "fleet/CDtlsDevices.h"
#include "fleet/CFleetEngine.h"
#include "fleet/CReplyMatcher.h"
#include "figures/CWindowFigures.h"
#include "fleet/CSystemFleetClock.h"
#include "metrics/CMetricsText.h"
#include "net/CTargetAddress.h"
#include "packet/CReplyKeyReader.h"
#include "schedule/CSendSchedule.h"
#include "text/TovrikTexts.h"
#include "traffic/CRandom.h"
#include "traffic/CRate.h"

namespace {

// How many packet numbers a warning lists before it says "...".
constexpr size_t kListedPackets = 5;

// The packets' numbers, from 1, as a warning lists them.
std::string PacketNumbers(const std::vector<size_t>& packets, size_t nOf)
{
    std::string strList;
    for (size_t i = 0; i < packets.size() && i < kListedPackets; ++i)
        strList += (i == 0 ? "" : ", ") + std::to_string(packets[i]);
    if (packets.size() > kListedPackets)
        strList += ", ...";
    return (packets.size() == 1 ? "packet " : "packets ") + strList + " of " + std::to_string(nOf);
}

// How long a reordered datagram is held back unless told: one and a half
// periods of the mode (of a second by a capture's timing).
int64_t DefaultReorderNs(const CFleetPlan::Settings& plan)
{
    const int64_t nPeriodNs = plan.bCaptureTime ? CSendSchedule::kNsPerSecond : CSendSchedule::PeriodNs(plan.nMode);
    return nPeriodNs + nPeriodNs / 2;
}

// The report of the run alone, made from its stats file's text, so that the
// two never disagree.
CStatus RunReport(const std::optional<std::string>& strStatsJson, const std::string& strJson, std::string& strHtml)
{
    CStatsMerger merger;
    CRunReport report;
    CStatus made = merger.AddText(strStatsJson ? *strStatsJson : "this run", strJson);
    if (made.IsOk())
        made = merger.Merge(report);
    if (made.IsOk())
        strHtml = CHtmlReport::Html(report);
    return made;
}

}  // namespace

// What the run opens, destroyed in reverse: the reader stops before the
// sockets, the devices' sessions and the matcher it uses go.
struct CFleetRun::Parts {
    CDeviceSockets::Binding binding;
    sockaddr_storage target{};
    CDeviceSockets sockets;
    std::unique_ptr<CSystemFleetClock> pClock;
    std::unique_ptr<CDtlsContext> pDtlsContext;
    std::unique_ptr<CDtlsDevices> pDtls;
    std::unique_ptr<CReplyMatcher> pMatcher;
    std::unique_ptr<CReplyKeyReader> pKeyReader;
    std::unique_ptr<CReplyReader> pReader;
};

CFleetRun::CFleetRun(CFleetConfig config)
    : m_config(std::move(config)), m_shell(m_config.outputs), m_pParts(std::make_unique<Parts>())
{
}

CFleetRun::~CFleetRun() = default;

int CFleetRun::AutomaticThreads(SendModes::Mode nMode, uint64_t nDevices, uint64_t nPaced)
{
    const int64_t nPeriodNs = CSendSchedule::PeriodNs(nMode);
    const double dRate = nPeriodNs > 0 ? static_cast<double>(nPaced) * 1e9 / static_cast<double>(nPeriodNs) : 0;
    const int nCores = std::max(1u, std::thread::hardware_concurrency());
    const int nWanted = static_cast<int>(dRate / kRatePerThread) + 1;
    return static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(std::min(nWanted, nCores)), nDevices));
}

CStatus CFleetRun::Plan(CLoadResult loaded)
{
    CStatus checked = m_config.CheckThresholds();
    if (checked.IsOk())
        checked = PlanVary();
    if (!checked.IsOk())
        return checked;
    CFleetPlan::Capture capture;
    if (!loaded.captureNs.empty()) {
        capture.pNs = loaded.captureNs.data();
        capture.pSource = loaded.captureSource.data();
    }
    m_plan.Build(m_config.plan, TovrikTexts::kDeviceInfo, *loaded.pPackets, loaded.pIndex.get(), &capture);
    NoteMisses();
    NoteVaryMisses();

    Layout& layout = m_layout;
    layout.nFleet = m_config.Grouped() ? m_plan.ImeiGroups() : m_config.nDevices;
    if (layout.nFleet > CFleetConfig::kMaxDevices)
        return CStatus::Invalid("the file has " + std::to_string(layout.nFleet) +
                                (m_config.plan.bBySource ? " sources" : " distinct IMEI values") + ", more than the " +
                                std::to_string(CFleetConfig::kMaxDevices) + " devices a fleet may have");
    for (const CTrafficConfig::Stage& stage : m_config.traffic.stages) {
        if (stage.bDevicesCount && stage.dDevices > static_cast<double>(layout.nFleet))
            return CStatus::Invalid("--scenario: " + m_config.traffic.strScenario + ": " + stage.strWhere +
                                    ".devices: '" + stage.strDevices + "' is more than the fleet's " +
                                    std::to_string(layout.nFleet) + " devices");
    }
    m_config.shard.Range(layout.nFleet, layout.nFirst, layout.nCount);
    if (layout.nCount == 0)
        return CStatus::Invalid("shard " + m_config.shard.Text() + " of " + std::to_string(layout.nFleet) +
                                " devices has no device");
    layout.nThreads = m_config.nThreads > 0
                          ? static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(m_config.nThreads), layout.nCount))
                          : AutomaticThreads(m_config.plan.nMode, layout.nCount,
                                             m_config.bSpread ? layout.nFleet : layout.nCount);
    const CTrafficConfig& traffic = m_config.traffic;
    // Intervals drawn per device come from the seed, as traffic does.
    const bool bDrawn = m_config.interval && m_config.interval->GetKind() != CDelay::Kind::kFixed;
    if (traffic.Used() || bDrawn)
        m_pTraffic = std::make_unique<CTrafficModel>(traffic, traffic.seed ? *traffic.seed : CRandom::FreshSeed(),
                                                     layout.nFleet, DefaultReorderNs(m_config.plan));
    return m_config.Paced() ? PlanPace() : CStatus();
}

CStatus CFleetRun::PlanPace()
{
    const CFleetPlan::Settings& plan = m_config.plan;
    if (plan.bCaptureTime || CSendSchedule::IsReplay(plan.nMode))
        return CStatus::Invalid("an interval or a rate does not go with replay or a capture's own timing");
    const CDelay interval = m_config.interval.value_or(CDelay::Fixed(CSendSchedule::PeriodNs(plan.nMode)));
    const std::vector<CTrafficConfig::Stage>& stages = m_config.traffic.stages;
    const double dRate = m_config.capacity ? m_config.capacity->dFrom : m_config.dRate.value_or(0);
    // A rate asks for arrivals spread evenly, not every device at once.
    const bool bSpread = m_config.bSpread || m_config.dRate || m_config.capacity;
    m_pPace = std::make_unique<CPace>(m_layout.nFleet, interval, dRate, Seed(), bSpread, stages);
    // Each device at most once a millisecond.
    const double dMost = static_cast<double>(m_layout.nFleet) * 1e9 / CTrafficConfig::kMinIntervalNs;
    const auto tooFast = [&](double dRate, const std::string& strWhere) {
        return CStatus::Invalid(strWhere + CRate::Text(dRate) + " is more than " + CRate::Text(dMost) +
                                ": each of the fleet's " + std::to_string(m_layout.nFleet) +
                                " devices would send more than once a millisecond");
    };
    if (m_config.capacity && m_config.capacity->dTo > dMost)
        return tooFast(m_config.capacity->dTo, "--find-capacity: ");
    if (m_pPace->Curve().RateAt(0) > dMost)
        return tooFast(m_pPace->Curve().RateAt(0), m_config.dRate ? "--rate: " : "--interval: ");
    size_t nRates = 0;
    for (const CTrafficConfig::Stage& stage : stages) {
        if (!stage.dRate && !stage.interval)
            continue;
        const double dRate = stage.dRate ? *stage.dRate : m_pPace->RateOf(stage.interval->MeanNs());
        if (dRate > dMost)
            return tooFast(dRate, "--scenario: " + m_config.traffic.strScenario + ": " + stage.strWhere + ": ");
        if (++nRates >= CRateCurve::kMaxPoints / 2)
            return CStatus::Invalid("--scenario: " + m_config.traffic.strScenario + ": more than " +
                                    std::to_string(CRateCurve::kMaxPoints / 2) + " stages set a rate");
    }
    return CStatus();
}

CStatus CFleetRun::PlanVary()
{
    for (const CTrafficConfig::Vary& vary : m_config.traffic.vary) {
        if (vary.strMember == m_config.plan.strCounter)
            return CStatus::Invalid("--vary: '" + vary.strText +
                                    "' gives generated values to the member --counter counts");
        // A drawn value tells no datagram from another; the counter does.
        if (m_config.bReplies && vary.strMember == m_config.plan.strReplyMatch)
            return CStatus::Invalid("--vary: '" + vary.strText +
                                    "' gives generated values to the member --reply-match matches replies by; "
                                    "match them by a --counter member");
        CTemplateBuilder::Vary rule;
        rule.strMember = vary.strMember;
        rule.bNumbers = vary.generator.Numeric();
        rule.bTexts = vary.generator.HasChoices();
        rule.nDecimals = vary.nDecimals;
        m_config.plan.vary.push_back(rule);
    }
    return CStatus();
}

void CFleetRun::NoteVaryMisses()
{
    using Kind = CTemplateBuilder::VaryMatch::Kind;
    const std::vector<CTrafficConfig::Vary>& rules = m_config.traffic.vary;
    for (size_t r = 0; r < rules.size(); ++r) {
        const CTrafficConfig::Vary& rule = rules[r];
        const std::string& strMember = rule.strMember;
        std::vector<size_t> missing;
        // By what the member holds, in the order first met.
        std::vector<std::pair<std::string, std::vector<size_t>>> wrong;
        for (size_t i = 0; i < m_plan.Size(); ++i) {
            const std::vector<CTemplateBuilder::VaryMatch>& matches = m_plan.At(i).matches;
            const CTemplateBuilder::VaryMatch match = r < matches.size() ? matches[r] : CTemplateBuilder::VaryMatch();
            if (match.nKind == Kind::kMissing) {
                missing.push_back(i + 1);
            } else if (match.nKind == Kind::kWrongType) {
                auto found = std::find_if(wrong.begin(), wrong.end(),
                                          [&](const auto& entry) { return entry.first == match.strValue; });
                if (found == wrong.end())
                    found = wrong.insert(wrong.end(), {match.strValue, {}});
                found->second.push_back(i + 1);
            }
        }
        const std::string strRule = "--vary " + rule.strText + ": ";
        if (!missing.empty())
            m_warnings.push_back(strRule + PacketNumbers(missing, m_plan.Size()) +
                                 (missing.size() == 1 ? " has" : " have") + " no member \"" + strMember + "\"; " +
                                 (missing.size() == 1 ? "it goes" : "they go") + " without it");
        for (const auto& entry : wrong)
            m_warnings.push_back(strRule + PacketNumbers(entry.second, m_plan.Size()) +
                                 (entry.second.size() == 1 ? " holds " : " hold ") + entry.first + " in \"" +
                                 strMember + "\", which " + rule.generator.Text() + " cannot write there; " +
                                 (entry.second.size() == 1 ? "it goes" : "they go") + " as " +
                                 (entry.second.size() == 1 ? "it is" : "they are"));
    }
}

void CFleetRun::NoteMisses()
{
    const std::string& strCounter = m_config.plan.strCounter;
    const std::string& strMatch = m_config.plan.strReplyMatch;
    std::vector<size_t> noCounter;
    std::vector<size_t> noMatch;
    for (size_t i = 0; i < m_plan.Size(); ++i) {
        const CMessageTemplate& message = m_plan.At(i).message;
        if (!message.HasSlot(CMessageTemplate::Slot::kCounterDigits) &&
            !message.HasSlot(CMessageTemplate::Slot::kCounterInt))
            noCounter.push_back(i + 1);
        if (message.Match() == CMessageTemplate::MatchSource::kNone)
            noMatch.push_back(i + 1);
    }
    if (!strCounter.empty() && !noCounter.empty())
        m_warnings.push_back("--counter " + strCounter + ": " + PacketNumbers(noCounter, m_plan.Size()) +
                             (noCounter.size() == 1 ? " has" : " have") + " no root member \"" + strCounter +
                             "\" holding an integer or a string of 1 to 19 digits; " +
                             (noCounter.size() == 1 ? "it goes" : "they go") + " without a counter");
    const bool bInfoUnmatched = m_plan.DeviceInfo().Match() == CMessageTemplate::MatchSource::kNone;
    if (!m_config.bReplies || strMatch.empty() || (noMatch.empty() && !bInfoUnmatched))
        return;
    std::string strWhich = bInfoUnmatched ? "the device info message" : "";
    if (!noMatch.empty())
        strWhich += (bInfoUnmatched ? " and " : "") + PacketNumbers(noMatch, m_plan.Size());
    const bool bOne = noMatch.size() + (bInfoUnmatched ? 1 : 0) == 1;
    m_warnings.push_back("--reply-match " + strMatch + ": " + strWhich + (bOne ? " has" : " have") +
                         " no root member \"" + strMatch +
                         "\": replies to them cannot be matched, and they are not tracked");
}

CStatus CFleetRun::Check()
{
    Parts& parts = *m_pParts;
    for (const std::string& strAddress : m_config.binds) {
        sockaddr_storage address{};
        SocketLength nLength = 0;
        if (CTargetAddress::Resolve(strAddress, AF_UNSPEC, 0, address, nLength))
            parts.binding.addresses.push_back(address);
    }
    parts.binding.nPortLow = m_config.nPortLow;
    parts.binding.nPortHigh = m_config.nPortHigh;
    parts.binding.bBroadcast = m_config.bBroadcast;
    const uint32_t nCount = static_cast<uint32_t>(m_layout.nCount);
    CStatus status = CDeviceSockets::CheckPorts(nCount, parts.binding);
    if (status.IsOk())
        status = CDeviceSockets::CheckDescriptors(nCount);
    if (status.IsOk())
        status = m_shell.CheckFiles();
    if (status.IsOk())
        status = CheckTarget();
    if (status.IsOk() && m_config.dtls.bOn)
        status = CDtlsContext::Create(m_config.dtls, CDtlsContext::Role::kClient, parts.pDtlsContext);
    CDeviceSockets::KernelUdp udp;
    // DTLS devices get their handshakes' answers as replies.
    if (status.IsOk() && (m_config.bReplies || m_config.dtls.bOn) && CDeviceSockets::ReadKernelUdp(udp)) {
        for (std::string& strWarning : CDeviceSockets::ReplyWarnings(nCount, udp))
            m_warnings.push_back(std::move(strWarning));
    }
    return status;
}

CStatus CFleetRun::CheckTarget()
{
    Parts& parts = *m_pParts;
    SocketLength nLength = 0;
    if (!CTargetAddress::Resolve(m_config.strTarget, m_config.nFamily, m_config.nPort, parts.target, nLength))
        return CStatus::Error("cannot resolve the target '" + m_config.strTarget + "'");
    const std::string strRefusal = CTargetAddress::Refusal(m_config.strTarget, parts.target, m_config.bBroadcast);
    if (!strRefusal.empty())
        return CStatus::Invalid(strRefusal);
    if (!parts.binding.addresses.empty() && parts.binding.addresses.front().ss_family != parts.target.ss_family)
        return CStatus::Invalid("--bind: '" + m_config.binds.front() + "' is an " +
                                CTargetAddress::FamilyName(parts.binding.addresses.front().ss_family) +
                                " address, the target '" + m_config.strTarget + "' is " +
                                CTargetAddress::FamilyName(parts.target.ss_family));
    return CStatus();
}

CStatus CFleetRun::ServeMetrics()
{
    // Served until the run goes, after its end: the last scrapes see the
    // final figures.
    const CFaultStats* pFaults = m_pTraffic ? &m_faults : nullptr;
    return m_shell.ServeMetrics([&stats = m_stats, pFaults, text = CMetricsText(m_config.shard, m_layout.nCount)] {
        return pFaults ? text.Text(stats) + text.FaultText(*pFaults) : text.Text(stats);
    });
}

CStatus CFleetRun::Open(Observer& observer)
{
    Parts& parts = *m_pParts;
    m_pObserver = &observer;
    CStatus status = parts.sockets.Open(static_cast<uint32_t>(m_layout.nCount), parts.binding, parts.target);
    if (!status.IsOk())
        return status;
    parts.pClock = std::make_unique<CSystemFleetClock>(m_layout.nThreads);
    if (!parts.pClock->Valid())
        return CStatus::Error("cannot open the fleet's timers");
    if (parts.pDtlsContext) {
        m_stats.UseDtls();
        parts.pDtls =
            std::make_unique<CDtlsDevices>(*parts.pDtlsContext, parts.sockets, m_plan, m_layout.nFirst,
                                           static_cast<uint32_t>(m_layout.nCount), *parts.pClock, *m_stats.Handshakes());
        status = parts.pDtls->Start();
        if (!status.IsOk())
            return status;
    } else if (!m_config.bReplies) {
        return parts.sockets.DiscardIncoming();
    }
    // The handshakes need what comes back even when the replies are not
    // matched.
    if (m_config.bReplies)
        MatchReplies();
    parts.pReader = std::make_unique<CReplyReader>(
        parts.sockets, [this](const CReplyReader::Reply& reply) { OnReply(reply); },
        parts.pDtls ? CReplyReader::kHandshakeGrainMs : CReplyReader::kReadGrainMs);
    return parts.pReader->Start();
}

void CFleetRun::MatchReplies()
{
    Parts& parts = *m_pParts;
    const CFleetPlan::Settings& plan = m_config.plan;
    const bool bSteady = !plan.bCaptureTime && !CSendSchedule::IsReplay(plan.nMode);
    CReplyMatcher::Settings settings;
    settings.nTimeoutNs = m_config.nReplyTimeoutNs;
    settings.bByMember = !plan.strReplyMatch.empty();
    settings.nSlots =
        CReplyMatcher::SlotsFor(m_config.nReplyTimeoutNs, bSteady ? CSendSchedule::PeriodNs(plan.nMode) : 0);
    m_stats.MatchReplies(m_config.nReplyTimeoutNs);
    parts.pMatcher = std::make_unique<CReplyMatcher>(static_cast<uint32_t>(m_layout.nCount), settings,
                                                     *m_stats.ReplyMatching());
    if (settings.bByMember)
        parts.pKeyReader = std::make_unique<CReplyKeyReader>(plan.strReplyMatch);
}

void CFleetRun::OnReply(const CReplyReader::Reply& reply)
{
    Parts& parts = *m_pParts;
    if (!parts.pDtls) {
        OnPlainReply(reply);
        return;
    }
    parts.pDtls->Incoming(reply.nDevice, reply.pData, reply.nLength, reply.nArrivalNs,
                          [this, &reply](const char* pData, size_t nLength) {
                              if (m_config.bReplies)
                                  OnPlainReply({reply.nDevice, reply.from, pData, nLength, reply.nArrivalNs});
                          });
}

void CFleetRun::OnPlainReply(const CReplyReader::Reply& reply)
{
    Parts& parts = *m_pParts;
    m_stats.RecordReply(reply.nLength);
    uint64_t nKey = 0;
    const bool bKeyed = !parts.pKeyReader || parts.pKeyReader->Read(reply.pData, reply.nLength, nKey);
    parts.pMatcher->Replied(reply.nDevice, bKeyed, nKey, reply.nArrivalNs);
    if (m_pObserver->WantsReplies())
        m_pObserver->OnReply(m_plan.ImeiText(m_layout.nFirst + reply.nDevice), reply);
}

const CReplyMatcher* CFleetRun::Matcher() const
{
    return m_pParts->pMatcher.get();
}

uint16_t CFleetRun::MetricsPort() const
{
    return m_shell.MetricsPort();
}

// What the run judges each second of its sending: with --abort-on-fail, the
// thresholds over the last window once the grace has passed; in a capacity
// search, each step as it ends, moving the rate to the next.
class CFleetRun::CSecondsJudge {
public:
    explicit CSecondsJudge(CFleetRun& run) : m_run(run)
    {
        const CFleetConfig& config = run.m_config;
        const CRunOutputs& outputs = config.outputs;
        m_nWindow = std::max<uint64_t>(1, static_cast<uint64_t>((outputs.nWindowNs + 500000000) / 1000000000));
        const int64_t nReplyNs = config.bReplies ? config.nReplyTimeoutNs : 0;
        m_nGraceNs = outputs.nGraceNs.value_or(nReplyNs + outputs.nWindowNs);
        if (config.capacity) {
            m_pSearch = std::make_unique<CCapacitySearch>(*config.capacity, outputs.thresholds,
                                                          config.nReplyTimeoutNs, config.bReplies,
                                                          run.m_pTraffic != nullptr);
            run.m_stats.SetSearch({m_pSearch->Rate(), 0, {}, {}, false});
        }
    }

    // The search has come to its end.
    bool Done() const { return m_pSearch && m_pSearch->Done(); }
    const CCapacitySearch* Search() const { return m_pSearch.get(); }

    void Add(const CFleetStats::Second& second)
    {
        if (!m_run.m_config.outputs.bAbortOnFail && !m_pSearch)
            return;
        CWindowFigures::Second figures{second, m_run.m_stats.LastLateness(), m_run.m_stats.LastRoundTrips(), {}};
        const CFaultCounts faults = m_run.m_faults.Counts();
        for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
            figures.faults.counts[i] = faults.counts[i] - m_lastFaults.counts[i];
        m_lastFaults = faults;
        if (m_pSearch) {
            if (const std::optional<double> dNext = m_pSearch->OnSecond(figures))
                m_run.m_pPace->Curve().Step(static_cast<int64_t>(second.nT) * CSendSchedule::kNsPerSecond, *dNext);
            const CRunRecord::Capacity found = m_pSearch->Result();
            m_run.m_stats.SetSearch(
                {m_pSearch->Rate(), found.steps.size(), found.dCapacity, found.dCrossedAt, m_pSearch->Done()});
            return;
        }
        m_window.Add(std::move(figures));
        m_window.KeepFrom(second.nT >= m_nWindow ? second.nT - m_nWindow + 1 : 0);
        if (static_cast<int64_t>(second.nT) * CSendSchedule::kNsPerSecond < m_nGraceNs)
            return;
        const CRunRecord window = m_window.Record(m_run.m_config.bReplies, m_run.m_pTraffic != nullptr);
        m_run.m_shell.JudgeWindow(CThreshold::FleetFigures(window), second.nT, static_cast<double>(m_window.Seconds()));
    }

private:
    CFleetRun& m_run;
    uint64_t m_nWindow = 10;
    int64_t m_nGraceNs = 0;
    CWindowFigures m_window;
    CFaultCounts m_lastFaults;
    std::unique_ptr<CCapacitySearch> m_pSearch;
};

CStatus CFleetRun::Run(CStopSource& stop)
{
    Parts& parts = *m_pParts;
    CFleetEngine::Settings settings;
    settings.nFleetDevices = m_layout.nFleet;
    settings.nFirstDevice = m_layout.nFirst;
    settings.nDevices = static_cast<uint32_t>(m_layout.nCount);
    settings.bSpread = m_config.bSpread;
    settings.nThreads = m_layout.nThreads;
    settings.nRampNs = static_cast<int64_t>(m_config.dRampSeconds * 1e9);
    settings.pTraffic = m_pTraffic.get();
    settings.pFaults = &m_faults;
    settings.pPace = m_pPace.get();
    CFleetSink& sink = parts.pDtls ? static_cast<CFleetSink&>(*parts.pDtls) : parts.sockets;
    CFleetEngine engine(m_plan, settings, *parts.pClock, sink, m_stats, parts.pMatcher.get());
    if (!m_shell.Start(stop, m_config.nStartAtUnixMs)) {
        // Stopped while waiting for the start: nothing was sent.
        if (parts.pReader)
            parts.pReader->Stop();
        m_pObserver->OnSecond(m_stats.Sample(), m_stats);
        return CStatus();
    }
    const CStatus started = engine.Start();
    if (!started.IsOk())
        return started;
    uint64_t nSecond = 0;
    bool bSending = true;
    CSecondsJudge judge(*this);
    const auto onSecond = [&] {
        // Datagrams whose timeout passed are lost in the second it passed,
        // once the reader (there with the matcher) has read everything that
        // came before it.
        if (parts.pMatcher)
            parts.pMatcher->Expire(std::min(parts.pClock->NowNs(), parts.pReader->ReadUpToNs()));
        ++nSecond;
        // What the rate asked of this process's devices in the second.
        const double dTarget =
            m_pPace && bSending
                ? m_pPace->Curve().Between(static_cast<int64_t>(nSecond - 1) * CSendSchedule::kNsPerSecond,
                                           static_cast<int64_t>(nSecond) * CSendSchedule::kNsPerSecond) *
                      static_cast<double>(m_layout.nCount) / static_cast<double>(m_layout.nFleet)
                : 0.0;
        const CFleetStats::Second second = m_stats.Sample(dTarget, bSending && engine.Saturated());
        if (bSending)
            judge.Add(second);
        m_pObserver->OnSecond(second, m_stats);
    };
    m_shell.Wait([&engine, &judge] { return engine.Finished() || judge.Done(); }, onSecond);
    if (judge.Search())
        m_capacity = judge.Search()->Result();
    engine.Stop();
    engine.Wait();
    bSending = false;
    if (parts.pMatcher) {
        // The replies still on their way get the timeout to arrive; a stop
        // request ends that wait, and what is outstanding then is lost.
        CRunWait drain(stop, static_cast<double>(m_config.nReplyTimeoutNs) / 1e9);
        drain.Wait([&parts] { return parts.pMatcher->Outstanding() == 0; }, onSecond);
        parts.pMatcher->ExpireAll();
    }
    if (parts.pReader)
        parts.pReader->Stop();
    if (parts.pDtls)
        parts.pDtls->Stop();
    m_pObserver->OnSecond(m_stats.Sample(), m_stats);
    return CStatus();
}

std::vector<CDtlsDevices::Failing> CFleetRun::MostFailing(size_t nMost) const
{
    return m_pParts->pDtls ? m_pParts->pDtls->MostFailing(nMost) : std::vector<CDtlsDevices::Failing>();
}

CFleetRun::Result CFleetRun::Finish()
{
    Result result;
    CRunRecord& record = result.record;
    record.nDevices = m_layout.nCount;
    record.nFirstDevice = m_layout.nFirst;
    record.nFleetDevices = m_layout.nFleet;
    record.nMode = m_config.plan.nMode;
    record.nThreads = m_layout.nThreads;
    record.dSeconds = m_shell.Seconds();
    record.commandLine = m_config.outputs.commandLine;
    record.bPaced = m_pPace != nullptr;
    record.abort = m_shell.Aborted();
    record.nStartUnixMs = m_shell.StartUnixMs();
    record.shard = m_config.shard;
    m_stats.Fill(record);
    if (m_pTraffic) {
        record.bTraffic = true;
        record.nSeed = m_pTraffic->Seed();
        record.faults = m_faults.Counts();
    }
    record.usage = CProcessUsage::Now();
    if (record.replyMatching)
        record.replyMatching->strMember = m_config.plan.strReplyMatch;
    // A capacity search judges its thresholds step by step: the whole run's
    // figures, up to the rate that crossed, say nothing of them.
    record.capacity = m_capacity;
    if (m_capacity)
        result.bCrossed = !m_capacity->Found();
    else
        result.bCrossed = m_shell.Judge(CThreshold::FleetFigures(record), record.verdicts) || record.abort.has_value();
    result.totals.nSent = record.nSent;
    result.totals.nFailed = record.nErrors;
    result.totals.nHeldAtStop = record.faults.nHeldAtStop;
    result.totals.dSeconds = record.dSeconds;
    const std::optional<std::string>& strStatsJson = m_config.outputs.strStatsJson;
    result.written = m_shell.Write(record.Json(), [&strStatsJson](const std::string& strJson, std::string& strHtml) {
        return RunReport(strStatsJson, strJson, strHtml);
    });
    return result;
}
