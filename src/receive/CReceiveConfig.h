#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/SocketTypes.h"
#include "text/TovrikTexts.h"
#include "traffic/CDelay.h"
#include "verdict/CThreshold.h"

// What a receive run is: where it listens, what it counts, how it answers
// and what it reports besides its result. A front end fills it in;
// CReceiveRun carries it out. A plain value.
struct CReceiveConfig {
    enum class Answer : uint8_t {
        kNone,
        // The datagram back to its source, byte for byte.
        kEcho,
        // A compact JSON object of the named root members of the message.
        kMembers,
    };

    // A numeric IPv4 or IPv6 address (without brackets) and a port (0: one
    // the system picks).
    std::string strAddress = "0.0.0.0";
    uint16_t nPort = TovrikTexts::kDefaultPort;

    // The root member that counts up by one with each datagram of a device;
    // empty: no counting of gaps, duplicates and reordering.
    std::string strCounter;

    Answer nAnswer = Answer::kNone;
    // kMembers: the members to copy, in the order the answer holds them.
    std::vector<std::string> answerMembers;
    CDelay answerDelay;
    // The share of answers not sent, 0 to 1.
    double dAnswerDrop = 0;
    // The answers' random draws (drop, delay) start from it, so that a run
    // can be played again.
    uint64_t nSeed = 0;

    // Written when the run ends: the stats file and the HTML report.
    std::optional<std::string> strStatsJson;
    std::optional<std::string> strReport;
    // Served for Prometheus while the run goes, at an IPv4 address (port 0:
    // one the system picks).
    std::optional<std::string> strMetricsAddress;
    uint16_t nMetricsPort = 0;
    // Judged on the run's figures at its end (CReceiveThresholds' metrics).
    std::vector<CThreshold> thresholds;
    // The arguments as given, for the records.
    std::vector<std::string> commandLine;
    // The run ends after this long; otherwise when the front end stops it.
    std::optional<double> dStopAfter;

    // "none", "echo" or "members:M1,M2", as --answer takes it.
    std::string AnswerText() const
    {
        if (nAnswer == Answer::kNone)
            return "none";
        if (nAnswer == Answer::kEcho)
            return "echo";
        std::string strText = "members:";
        for (size_t i = 0; i < answerMembers.size(); ++i)
            strText += (i == 0 ? "" : ",") + answerMembers[i];
        return strText;
    }
};
