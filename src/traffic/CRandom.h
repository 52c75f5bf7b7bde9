#pragma once

#include <cstdint>
#include <string_view>

#include "base/CStatus.h"

// The fleet's random numbers without a generator's state: every draw is a
// hash of the run's seed, the device's index in the whole fleet, the
// packet's index and what the draw is for, so that a device's values and
// faults are the same whichever thread, process or shard makes them, and
// in whatever order. The hash is SplitMix64's finaliser applied in a chain,
// each input added with an odd constant of its own. Stateless; any thread.
class CRandom {
public:
    // What a draw is for: a draw of one purpose never repeats another's.
    // A purpose's second draw is purpose + kSecondDraw; the value
    // generators' draws are kVary + kDrawsPerRule * rule + n.
    enum Purpose : uint32_t {
        kLoss = 1,
        kLossBurst,
        kDuplicate,
        kDuplicateDelay,
        kReorder,
        kReorderBy,
        kJitter,
        kCorrupt,
        kCorruptKind,
        kCorruptAt,
        kChurnGap,
        kChurnLength,
        kOutageReturn,
        kAnswerDrop,
        kAnswerDelay,
        kInterval,
        kDtlsBackoff,
        kSecondDraw = 64,
        kVary = 256,
    };

    // The draws a value generator may make per packet.
    static constexpr uint32_t kDrawsPerRule = 16;

    // Where the draws of one device and packet come from.
    struct Key {
        uint64_t nSeed;
        uint64_t nDevice;
        uint64_t nPacket;

        uint64_t Bits(uint32_t nPurpose) const { return CRandom::Bits(nSeed, nDevice, nPacket, nPurpose); }
        // In [0, 1).
        double Unit(uint32_t nPurpose) const { return CRandom::Unit(Bits(nPurpose)); }
    };

    // A seed as a user gives it (--seed, a scenario's "seed"): decimal
    // digits, 0 to 2^64 - 1. Fails naming the text.
    [[nodiscard]] static CStatus ReadSeed(std::string_view text, uint64_t& nSeed);
    // A seed nobody gave: the system's random source and the clock.
    static uint64_t FreshSeed();

    static uint64_t Bits(uint64_t nSeed, uint64_t nDevice, uint64_t nPacket, uint32_t nPurpose);
    // The top 53 bits as a number in [0, 1).
    static double Unit(uint64_t nBits);
    // In (0, 1]: safe to take the logarithm of.
    static double OpenUnit(uint64_t nBits);
    // A standard normal number from two draws (Box-Muller).
    static double Normal(uint64_t nBits1, uint64_t nBits2);
    // An exponential number of mean 1.
    static double Exponential(uint64_t nBits);
};
