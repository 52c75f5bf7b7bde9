#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/CStatus.h"
#include "dtls/CDtlsSettings.h"
#include "net/SocketTypes.h"
#include "run/CRunOutputs.h"
#include "text/TovrikTexts.h"
#include "traffic/CDelay.h"

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
    // A server that saturates: it answers at most dCapacity datagrams a
    // second, one after the other, keeps up to nCapacityQueue waiting for
    // their turn and answers none beyond them; none: no limit.
    std::optional<double> dCapacity;
    uint64_t nCapacityQueue = 0;

    // The devices' datagrams come as records of DTLS sessions, one per
    // peer; the answers go back in them.
    CDtlsSettings dtls;

    // The stats file, report, metrics, thresholds (CReceiveThresholds'
    // metrics), how long it may last, the command line.
    CRunOutputs outputs;

    // Every threshold measures something this run counts (the counter's
    // need --counter). A usage error that says what is missing otherwise.
    [[nodiscard]] CStatus CheckThresholds() const;

    // --capacity's "R[/s][,queue=N]" (queue default: a tenth of a second's
    // answers, at least one); fails naming the text.
    [[nodiscard]] static CStatus ReadCapacity(const std::string& strText, double& dCapacity, uint64_t& nQueue);

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
