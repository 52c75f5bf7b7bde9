#include "receive/CReceiveRun.h"

#include <algorithm>

#include "base/CProcessUsage.h"
#include "base/CThreadStarter.h"
#include "dtls/CDtlsContext.h"
#include "receive/CDtlsPeers.h"
#include "receive/CAnswerRule.h"
#include "receive/CReceiveReport.h"
#include "receive/CReceiveTally.h"
#include "receive/CReceiveThresholds.h"

namespace {

// The longest the reading thread waits without looking at the stop flag
// and the answers' queue.
constexpr int64_t kLongestWaitNs = 50000000;

}  // namespace

CReceiveRun::CReceiveRun(CReceiveConfig config, CReceiveClock& clock)
    : m_config(std::move(config)),
      m_clock(clock),
      m_socket(CReceiveTally::kPadding),
      m_pTally(std::make_unique<CReceiveTally>(m_config.strCounter)),
      m_pRule(std::make_unique<CAnswerRule>(m_config)),
      m_shell(m_config.outputs)
{
}

CReceiveRun::~CReceiveRun()
{
    m_bStop.store(true);
    if (m_pReader)
        m_pReader->join();
}

CStatus CReceiveRun::Check() const
{
    const CStatus thresholds = m_config.CheckThresholds();
    return thresholds.IsOk() ? m_shell.CheckFiles() : thresholds;
}

CStatus CReceiveRun::Open()
{
    if (m_config.dtls.bOn) {
        const CStatus made = CDtlsContext::Create(m_config.dtls, CDtlsContext::Role::kServer, m_pDtlsContext);
        if (!made.IsOk())
            return made;
        m_pDtls = std::make_unique<CDtlsPeers>(
            *m_pDtlsContext,
            [this](const sockaddr_storage& to, const char* pData, size_t nLength) {
                return m_socket.Send(to, pData, nLength).IsOk();
            },
            m_handshakes);
    }
    return m_socket.Open(m_config.strAddress, m_config.nPort);
}

CStatus CReceiveRun::ServeMetrics()
{
    // Served until the run goes, after its end: the last scrapes see the
    // final figures.
    return m_shell.ServeMetrics([this, text = CReceiveMetricsText(m_socket.LocalText())] {
        std::lock_guard<std::mutex> lock(m_mutex);
        return text.Text(CurrentTotals());
    });
}

uint16_t CReceiveRun::MetricsPort() const
{
    return m_shell.MetricsPort();
}

CStatus CReceiveRun::Run(CStopSource& stop, Observer& observer)
{
    m_shell.Start(stop);
    const CStatus started = CThreadStarter::Start([this] { Read(); }, m_pReader);
    if (!started.IsOk())
        return CStatus::Error("cannot start the receiving thread: " + started.Message(), started.Code());
    uint64_t nT = 0;
    m_shell.Wait([] { return false; }, [&] { Sample(++nT, observer); });
    m_bStop.store(true);
    m_pReader->join();
    m_pReader.reset();
    {
        // What had not arrived below each device's highest number is lost
        // now, in the last second.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pTally->CloseCounts();
    }
    Sample(++nT, observer);
    return CStatus();
}

void CReceiveRun::Read()
{
    while (!m_bStop.load()) {
        int64_t nWaitNs = kLongestWaitNs;
        if (!m_queue.Empty())
            nWaitNs = std::clamp<int64_t>(m_queue.NextDue() - m_clock.SteadyNs(), 0, kLongestWaitNs);
        const size_t nRead = m_socket.Read(nWaitNs);
        std::lock_guard<std::mutex> lock(m_mutex);
        Take(nRead);
        SendDue(m_clock.SteadyNs());
        if (m_pDtls)
            m_pDtls->OnTick(m_clock.UnixNs());
    }
    // What had arrived before the stop counts; a sender that never pauses
    // cannot hold the stop off for more than a few socket buffers.
    constexpr int kMostFinalReads = 1024;
    size_t nRead = 0;
    for (int i = 0; i < kMostFinalReads && (nRead = m_socket.Read(0)) > 0; ++i) {
        std::lock_guard<std::mutex> lock(m_mutex);
        Take(nRead);
    }
}

void CReceiveRun::Take(size_t nRead)
{
    if (nRead == 0)
        return;
    const int64_t nSteadyNs = m_clock.SteadyNs();
    const int64_t nUnixNs = m_clock.UnixNs();
    for (size_t i = 0; i < nRead; ++i) {
        const CReceiveSocket::Datagram& datagram = m_socket.At(i);
        if (!m_pDtls) {
            TakeOne(datagram.pData, datagram.nLength, datagram.from, datagram.nArrivalUnixNs, nSteadyNs, nUnixNs);
            continue;
        }
        m_pDtls->Feed(datagram.from, datagram.pData, datagram.nLength, datagram.nArrivalUnixNs,
                      [&](const char* pData, size_t nLength) {
                          m_plain.assign(pData, pData + nLength);
                          m_plain.resize(nLength + CReceiveTally::kPadding);
                          TakeOne(m_plain.data(), nLength, datagram.from, datagram.nArrivalUnixNs, nSteadyNs,
                                  nUnixNs);
                      });
    }
}

void CReceiveRun::TakeOne(const char* pData, size_t nLength, const sockaddr_storage& from, int64_t nArrivalUnixNs,
                          int64_t nSteadyNs, int64_t nUnixNs)
{
    const CReceiveTally::Taken taken = m_pTally->Take(pData, nLength, from, nArrivalUnixNs);
    if (!m_pRule->Answers())
        return;
    CAnswerRule::Decision decision;
    m_pRule->Decide(taken, pData, nLength, decision);
    if (decision.nOutcome == CAnswerRule::Outcome::kDropped) {
        ++m_nAnswersDropped;
    } else if (decision.nOutcome == CAnswerRule::Outcome::kSend && decision.nDelayNs == 0 && !m_config.dCapacity) {
        ++(SendAnswer(from, decision.bytes) ? m_nAnswersSent : m_nAnswerErrors);
    } else if (decision.nOutcome == CAnswerRule::Outcome::kSend) {
        // The answer's instant counts from the datagram's arrival, told on
        // the wall clock, moved onto the steady one.
        int64_t nReadyNs = nSteadyNs - std::clamp<int64_t>(nUnixNs - nArrivalUnixNs, 0, kLongestWaitNs);
        if (m_config.dCapacity && !Serve(nReadyNs, nReadyNs)) {
            ++m_nAnswersOverCapacity;
            return;
        }
        if (!m_queue.Push(nReadyNs + decision.nDelayNs, from, std::move(decision.bytes)))
            ++m_nAnswersNotQueued;
    }
}

bool CReceiveRun::SendAnswer(const sockaddr_storage& to, const std::string& bytes)
{
    if (m_pDtls)
        return m_pDtls->Write(to, bytes.data(), bytes.size());
    return m_socket.Send(to, bytes.data(), bytes.size()).IsOk();
}

bool CReceiveRun::Serve(int64_t nArrivalNs, int64_t& nDoneNs)
{
    const double dServiceNs = 1e9 / *m_config.dCapacity;
    const int64_t nStartNs = std::max(nArrivalNs, m_nServiceFreeNs);
    if (static_cast<double>(nStartNs - nArrivalNs) >= static_cast<double>(m_config.nCapacityQueue) * dServiceNs)
        return false;
    m_nServiceFreeNs = nStartNs + static_cast<int64_t>(dServiceNs);
    nDoneNs = m_nServiceFreeNs;
    return true;
}

void CReceiveRun::SendDue(int64_t nNowNs)
{
    CAnswerQueue::Answer answer;
    while (m_queue.PopDue(nNowNs, answer))
        ++(SendAnswer(answer.to, answer.bytes) ? m_nAnswersSent : m_nAnswerErrors);
}

CReceiveRun::Totals CReceiveRun::CurrentTotals() const
{
    Totals totals;
    totals.nDatagrams = m_pTally->Datagrams();
    totals.nMalformed = m_pTally->Malformed();
    totals.nDuplicates = m_pTally->Duplicates();
    totals.nReordered = m_pTally->Reordered();
    totals.nLost = m_pTally->Lost();
    totals.nKernelDrops = m_socket.Drops();
    totals.nAnswers = m_nAnswersSent;
    totals.nDevices = m_pTally->Devices();
    if (m_pDtls) {
        const CHandshakeCounts handshakes = m_handshakes.Counts();
        totals.bDtls = true;
        totals.nSessions = m_pDtls->Sessions();
        totals.nHandshakes = handshakes.nCompleted;
        totals.nHandshakeFailures = handshakes.Failed();
    }
    return totals;
}

void CReceiveRun::Sample(uint64_t nT, Observer& observer)
{
    CReceiveRecord::Second second;
    Totals totals;
    std::vector<CReceiveRecord::Malformed> malformed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        second = m_pTally->TakeSecond(nT);
        totals = CurrentTotals();
        second.nKernelDrops = totals.nKernelDrops - m_nLastDrops;
        second.nAnswers = totals.nAnswers - m_nLastAnswers;
        m_nLastDrops = totals.nKernelDrops;
        m_nLastAnswers = totals.nAnswers;
        m_series.push_back(second);
        const std::vector<CReceiveRecord::Malformed>& shown = m_pTally->MalformedShown();
        malformed.assign(shown.begin() + static_cast<std::ptrdiff_t>(m_nMalformedTold), shown.end());
        m_nMalformedTold = shown.size();
    }
    for (const CReceiveRecord::Malformed& one : malformed)
        observer.OnMalformed(one);
    observer.OnSecond(second, totals);
}

CReceiveRun::Result CReceiveRun::Finish()
{
    Result result;
    CReceiveRecord& record = result.record;
    record.strListen = m_socket.LocalText();
    record.strCounter = m_config.strCounter;
    record.strAnswer = m_config.AnswerText();
    record.strAnswerDelay = m_config.answerDelay.Text();
    record.dAnswerDrop = m_config.dAnswerDrop;
    record.dCapacity = m_config.dCapacity.value_or(0);
    record.nCapacityQueue = m_config.nCapacityQueue;
    record.nSeed = m_config.nSeed;
    record.nReceiveBufferBytes = m_socket.BufferBytes();
    record.dSeconds = m_shell.Seconds();
    record.nStartUnixMs = m_shell.StartUnixMs();
    record.commandLine = m_config.outputs.commandLine;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pTally->Fill(record);
        record.bKernelDropsKnown = CReceiveSocket::TellsDrops();
        record.nKernelDrops = m_socket.Drops();
        record.nAnswersSent = m_nAnswersSent;
        record.nAnswersDropped = m_nAnswersDropped;
        record.nAnswersNotQueued = m_nAnswersNotQueued;
        record.nAnswersOverCapacity = m_nAnswersOverCapacity;
        record.nAnswerErrors = m_nAnswerErrors;
        record.series = m_series;
        if (m_pDtls)
            record.handshakes = m_handshakes.Counts();
    }
    record.usage = CProcessUsage::Now();
    result.bCrossed = m_shell.Judge(CReceiveThresholds::Figures(record), record.verdicts);
    result.written = m_shell.Write(record.Json(), [&record](const std::string&, std::string& strHtml) {
        strHtml = CReceiveReport::Html(record);
        return CStatus();
    });
    return result;
}
