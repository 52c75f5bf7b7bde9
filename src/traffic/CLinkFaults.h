#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/CStatus.h"
#include "traffic/CDelay.h"
#include "traffic/CRandom.h"

// The faults of a device's radio link, as the options give them: loss
// (P[,burst=N]: each datagram lost on its own with the chance P, or with a
// mean burst length N in runs of N on average, by a two-state model whose
// long-run loss is P), duplicates (P[,delay=DELAY]: a
// second copy at once or that much after the datagram), reordering
// (P[,by=DELAY]: the datagram held back, by default one and a half periods
// of the mode, so that the next overtakes it), jitter (DELAY: added to every
// send) and corruption (P[,KIND...]: truncate, flip, break-json; one of those
// given, all three when none is). Each reads "off" as none. Decide draws what
// happens to one datagram. A plain value; any thread.
class CLinkFaults {
public:
    enum Corruption : uint8_t { kNoCorruption = 0, kTruncate = 1, kFlip = 2, kBreakJson = 4 };

    struct Loss {
        double dProbability = 0;
        // The mean length of a run of losses; 0: each datagram lost on its
        // own (runs of 1 / (1 - P) on average).
        double dBurst = 0;
    };
    struct Duplicate {
        double dProbability = 0;
        CDelay delay;
    };
    struct Reorder {
        double dProbability = 0;
        bool bBy = false;  // false: the mode's default
        CDelay by;
    };
    struct Jitter {
        bool bOn = false;
        CDelay delay;
    };
    struct Corrupt {
        double dProbability = 0;
        uint8_t nKinds = kTruncate | kFlip | kBreakJson;
    };

    // What happens to one datagram.
    struct Decision {
        bool bDrop = false;
        // Sent this long after its instant (jitter and reordering together).
        int64_t nDelayNs = 0;
        bool bJittered = false;
        bool bReordered = false;
        bool bDuplicate = false;
        int64_t nCopyDelayNs = 0;  // the copy's, after the datagram's own send
        Corruption nCorrupt = kNoCorruption;
        uint64_t nCorruptBits = 0;  // where and how, for CCorruption
    };

    // Each fails, naming the text and saying what is wrong, when the text
    // is not what the option takes.
    [[nodiscard]] static CStatus ReadLoss(std::string_view text, Loss& loss);
    [[nodiscard]] static CStatus ReadDuplicate(std::string_view text, Duplicate& duplicate);
    [[nodiscard]] static CStatus ReadReorder(std::string_view text, Reorder& reorder);
    [[nodiscard]] static CStatus ReadJitter(std::string_view text, Jitter& jitter);
    [[nodiscard]] static CStatus ReadCorrupt(std::string_view text, Corrupt& corrupt);
    // "truncate", "flip", "break-json".
    static const char* CorruptionName(Corruption nKind);

    bool Any() const;
    // One datagram's fate, from the key's draws; bInBurst is the device's
    // loss state, carried from datagram to datagram; nDefaultByNs is how
    // long a reordered datagram is held back when the option does not say.
    Decision Decide(const CRandom::Key& key, bool& bInBurst, int64_t nDefaultByNs) const;

    Loss loss;
    Duplicate duplicate;
    Reorder reorder;
    Jitter jitter;
    Corrupt corrupt;
};
