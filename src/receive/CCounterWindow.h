#pragma once

#include <cstdint>

// One device's count of a member that goes up by one with each datagram it
// sends: the highest number seen and which of the 64 numbers up to it have
// arrived. A number above the highest moves the window; the numbers that
// leave it without having arrived are lost. One within the window that
// arrived before is a duplicate, one that had not is reordered (it came
// after a higher one). Numbers below the device's first one are not
// expected: one that arrives counts as reordered. A number more than 64
// below the highest cannot be told from an old duplicate: it counts as
// reordered, and stays lost if the window passed it. 33 bytes of state; a
// plain value, one thread.
class CCounterWindow {
public:
    static constexpr uint64_t kWidth = 64;

    enum class Seen : uint8_t { kFirst, kNext, kDuplicate, kReordered };

    struct Step {
        Seen nSeen = Seen::kFirst;
        // Numbers lost now (they left the window without arriving).
        uint64_t nLost = 0;
    };

    Step Observe(uint64_t nCounter);
    // Ends the count (the device started afresh, or the run ended): the
    // numbers below the highest that have not arrived are lost. The next
    // number starts a new count. Answers the numbers lost now.
    uint64_t Close();

    // The numbers from each count's first to its highest, all counts.
    uint64_t Expected() const { return m_nExpected; }

private:
    uint64_t m_nHighest = 0;
    uint64_t m_nFirst = 0;
    // Bit i: number m_nHighest - i arrived (or is below the first).
    uint64_t m_nSeen = 0;
    uint64_t m_nExpected = 0;
    bool m_bOpen = false;
};
