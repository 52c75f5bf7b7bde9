#pragma once

#include <cstddef>
#include <cstdint>

// When a device of a fleet sends, by the send worker's rules for one device
// but on absolute instants of the clock instead of 100 ms ticks: a second is
// due when it is past the last send by a whole period (the minute mode: any
// whole number of minutes, backwards too, as a clock that was set back gives
// them; the hour mode: any whole hour of local time, half-hour zones
// included, but the last send's own second). Stateless; any thread.
class CFleetSchedule {
public:
    static constexpr int64_t kNsPerSecond = 1000000000;
    static constexpr int64_t kNsPerMs = 1000000;
    // Like the worker's first tick, the timed modes' and replay's first check
    // comes this long after the start.
    static constexpr int64_t kFirstCheckNs = 100 * kNsPerMs;
    static constexpr int64_t kNever = INT64_MAX;

    static bool IsTimed(uint8_t nMode);
    static bool IsFast(uint8_t nMode);
    // The period of a mode in nanoseconds (replay: one second); 0 for none.
    static int64_t PeriodNs(uint8_t nMode);
    // Device k of n with --spread: k * P / n inside each period P.
    static int64_t SpreadOffsetNs(uint8_t nMode, uint64_t k, uint64_t n);

    // floor(nNs / 1e9), also for negative instants.
    static int64_t SecondOf(int64_t nNs);
    // The local zone's offset from UTC at that clock second, in seconds.
    static int64_t ZoneOffset(int64_t nSecond);

    // Whether a timed mode sends at clock second nSecond after a send at nLast.
    static bool IsDue(uint8_t nMode, int64_t nSecond, int64_t nLast);
    // The first clock second at or after nSecond that is due.
    static int64_t NextDueSecond(uint8_t nMode, int64_t nSecond, int64_t nLast);

    // The first clock second at or after nSecond whose local time of day is
    // one of the keys (ascending; keys outside one day never come); kNever
    // when there is none. Near a change of the zone's offset it may answer a
    // second whose key does not match: the caller checks the key there.
    static int64_t NextReplaySecond(const int64_t* pKeys, size_t nKeys, int64_t nSecond);
};
