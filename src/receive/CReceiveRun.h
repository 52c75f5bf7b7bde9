#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/CStatus.h"
#include "figures/CHandshakeStats.h"
#include "receive/CAnswerQueue.h"
#include "receive/CReceiveClock.h"
#include "receive/CReceiveConfig.h"
#include "receive/CReceiveMetricsText.h"
#include "receive/CReceiveRecord.h"
#include "receive/CReceiveSocket.h"
#include "run/CRunShell.h"

class CAnswerRule;
class CDtlsContext;
class CDtlsPeers;
class CReceiveTally;
class CStopSource;

// One receive run, for any front end: the front end fills in a
// CReceiveConfig and takes the run through its steps; the run hands back
// figures and verdicts as data and prints nothing.
// 1. Check: the records' files can be written;
// 2. Open: the socket bound to the address listened on;
// 3. ServeMetrics (a taken port ends the run before anything is read);
// 4. Run: a thread reads the socket, counts each datagram, answers as the
//    config says (delayed answers wait in a bounded queue for their
//    instants), until the time is up or the front end's stop source says
//    stop; the figures are taken each second;
// 5. Finish: the counts closed, the thresholds judged, the records written.
// A failed step fails with the reason. Steps are taken in order, each at
// most once, from one thread. From ServeMetrics on the run has threads of
// its own: a front end that takes stop requests by blocking signals must
// block them before.
class CReceiveRun {
public:
    using Totals = CReceiveMetricsText::Counters;

    // What a front end hears while the run goes, on the thread that runs
    // Run.
    class Observer {
    public:
        virtual ~Observer() = default;
        // One of the first malformed datagrams (CReceiveTally's
        // kShownMalformed), before the second it came in.
        virtual void OnMalformed(const CReceiveRecord::Malformed& /*malformed*/) {}
        // Each second, and once more for the last, partial second.
        virtual void OnSecond(const CReceiveRecord::Second& /*second*/, const Totals& /*totals*/) {}
    };

    struct Result {
        CReceiveRecord record;
        bool bCrossed = false;  // a threshold was crossed
        // The records' files: written, or why not.
        CStatus written;
    };

    // clock: the one the answers are due on and datagrams arrive on; not
    // owned.
    explicit CReceiveRun(CReceiveConfig config, CReceiveClock& clock = CReceiveClock::System());
    ~CReceiveRun();
    CReceiveRun(const CReceiveRun&) = delete;
    CReceiveRun& operator=(const CReceiveRun&) = delete;

    [[nodiscard]] CStatus Check() const;
    [[nodiscard]] CStatus Open();
    // "0.0.0.0:51609", once open.
    std::string ListenText() const { return m_socket.LocalText(); }
    int ReceiveBufferBytes() const { return m_socket.BufferBytes(); }
    // Nothing when the config asks for no metrics.
    [[nodiscard]] CStatus ServeMetrics();
    uint16_t MetricsPort() const;
    [[nodiscard]] CStatus Run(CStopSource& stop, Observer& observer);
    Result Finish();

private:
    void Read();
    // The run's current totals; under m_mutex.
    Totals CurrentTotals() const;
    // Closes second nT and tells the observer; main thread.
    void Sample(uint64_t nT, Observer& observer);
    // Takes the datagrams of one read; under m_mutex.
    void Take(size_t nRead);
    // One datagram (with kPadding readable bytes after it), as a device
    // sent it: counted and answered. Under m_mutex.
    void TakeOne(const char* pData, size_t nLength, const sockaddr_storage& from, int64_t nArrivalUnixNs,
                 int64_t nSteadyNs, int64_t nUnixNs);
    // An answer to a device, in its session with DTLS; under m_mutex.
    bool SendAnswer(const sockaddr_storage& to, const std::string& bytes);
    // With a capacity: when an answer to a datagram that arrived at
    // nArrivalNs is done (its turn, then its service); false when too many
    // wait already. Under m_mutex.
    bool Serve(int64_t nArrivalNs, int64_t& nDoneNs);
    // Sends the answers whose instants have come; under m_mutex.
    void SendDue(int64_t nNowNs);

    const CReceiveConfig m_config;
    CReceiveClock& m_clock;
    CReceiveSocket m_socket;
    // Behind pointers: their parser stays out of the front ends.
    std::unique_ptr<CReceiveTally> m_pTally;
    // The reading thread's alone.
    std::unique_ptr<CAnswerRule> m_pRule;
    CAnswerQueue m_queue;
    // With DTLS: the peers' sessions (the reading thread's), their figures,
    // and a datagram a record carried, padded for the parser.
    std::unique_ptr<CDtlsContext> m_pDtlsContext;
    std::unique_ptr<CDtlsPeers> m_pDtls;
    CHandshakeStats m_handshakes;
    std::vector<char> m_plain;

    // Guards the tally, the answers' counts and the series between the
    // reading thread and the threads that read the figures.
    mutable std::mutex m_mutex;
    uint64_t m_nAnswersSent = 0;
    uint64_t m_nAnswersDropped = 0;
    uint64_t m_nAnswersNotQueued = 0;
    uint64_t m_nAnswersOverCapacity = 0;
    // With a capacity: when the answers already taken are done, on the
    // steady clock.
    int64_t m_nServiceFreeNs = 0;
    uint64_t m_nAnswerErrors = 0;
    std::vector<CReceiveRecord::Second> m_series;
    uint64_t m_nLastDrops = 0;
    uint64_t m_nLastAnswers = 0;
    size_t m_nMalformedTold = 0;

    std::atomic<bool> m_bStop{false};
    std::unique_ptr<std::thread> m_pReader;
    // Gone first: a scrape reads the figures above.
    CRunShell m_shell;
};
