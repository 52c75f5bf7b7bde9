#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "receive/CReceiveConfig.h"
#include "receive/CReceiveTally.h"

// How a receive run answers each datagram, as a server would: echo sends
// the datagram back as it came, whatever it holds; members sends a compact
// JSON object of the named root members of a well-formed message, each the
// first of its name, in the order named, written as the stamp step writes
// members. A message that has only some of them is answered with those; one
// that has none of them, a malformed datagram or a root that is not an
// object is not answered. Each answer is then dropped with the drop
// probability, or held for a delay drawn for it; the draws come from the
// seed and the answer's number (CRandom), so that the same datagrams in the
// same order get the same answers. One thread.
class CAnswerRule {
public:
    enum class Outcome : uint8_t { kNone, kDropped, kSend };

    struct Decision {
        Outcome nOutcome = Outcome::kNone;
        std::string bytes;
        int64_t nDelayNs = 0;
    };

    explicit CAnswerRule(const CReceiveConfig& config);

    bool Answers() const { return m_config.nAnswer != CReceiveConfig::Answer::kNone; }
    // The answer to a datagram that the tally has taken.
    void Decide(const CReceiveTally::Taken& taken, const char* pData, size_t nLength, Decision& decision);

private:
    bool Members(const CReceiveTally::Taken& taken, std::string& out) const;

    const CReceiveConfig m_config;
    uint64_t m_nAnswers = 0;  // answers decided so far
};
