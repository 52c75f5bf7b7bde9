#pragma once

#include <cstdint>
#include <random>

// The random draws of a receive run's answers, from a seed, so that a run
// can be played again: mt19937_64, whose output the C++ standard fixes, and
// draws made from it here rather than by the library's distributions, whose
// algorithms differ between libraries. One thread.
class CSeededRandom {
public:
    explicit CSeededRandom(uint64_t nSeed) : m_engine(nSeed) {}

    uint64_t Next() { return m_engine(); }
    // Uniform in [0, 1), 53 random bits.
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::mt19937_64 m_engine;
};
