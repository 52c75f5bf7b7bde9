#pragma once

#include <cstddef>
#include <cstdint>

#include "schedule/SendModes.h"

// When a device sends, by mode: the one rule that the one-device worker (on
// its ticks) and the fleet (on absolute instants) both follow.
//
// - Timed modes: a clock second is due when it is a whole period past the
//   last send (the seconds' modes forwards only; the minute mode any whole
//   number of minutes, backwards too, as a clock set back gives them; the
//   hour mode any whole hour of local time, half-hour zones included, but the
//   last send's own second). The last send starts at 0.
// - Fast modes: packet i at start + (i + 1) periods.
// - Replay: each new second of the clock is looked up once; a clock set back
//   starts again from the second before it.
// - Spread: device k of n at k/n of the period.
//
// Stateless; any thread.
class CSendSchedule {
public:
    static constexpr int64_t kNsPerSecond = 1000000000;
    static constexpr int64_t kNsPerMs = 1000000;
    // Like the worker's first tick, the timed modes' and replay's first check
    // comes this long after the start.
    static constexpr int64_t kFirstCheckNs = SendModes::kFirstTickMs * kNsPerMs;
    static constexpr int64_t kNever = INT64_MAX;

    // What a replay check at a clock second does.
    enum class ReplayCheck {
        kSameSecond,  // already handled: nothing
        kSetBack,     // the clock went back: handled again from the second before it
        kNewSecond,   // look it up
    };

    static bool IsTimed(SendModes::Mode nMode);
    static bool IsFast(SendModes::Mode nMode);
    static bool IsReplay(SendModes::Mode nMode);
    // The worker's tick in the mode.
    static int TickMs(SendModes::Mode nMode);
    // The period of a mode in nanoseconds (replay: one second); 0 for none.
    static int64_t PeriodNs(SendModes::Mode nMode);
    // Device k of n with --spread: k * P / n inside each period P.
    static int64_t SpreadOffsetNs(SendModes::Mode nMode, uint64_t k, uint64_t n);
    // A fast mode's packet nPacket of a run that started at nStartNs.
    static int64_t FastInstantNs(SendModes::Mode nMode, int64_t nStartNs, uint64_t nPacket);

    // floor(nNs / 1e9), also for negative instants.
    static int64_t SecondOf(int64_t nNs);
    // The local zone's offset from UTC at that clock second, in seconds.
    static int64_t ZoneOffset(int64_t nSecond);

    // Whether a timed mode sends at clock second nSecond after a send at nLast.
    static bool IsDue(SendModes::Mode nMode, int64_t nSecond, int64_t nLast);
    // The first clock second at or after nSecond that is due.
    static int64_t NextDueSecond(SendModes::Mode nMode, int64_t nSecond, int64_t nLast);

    // Replay at clock second nSecond after the last second handled, nLast;
    // a clock set back moves nLast to the second before nSecond.
    static ReplayCheck CheckReplay(int64_t nSecond, int64_t& nLast);
    // The first clock second at or after nSecond whose local time of day is
    // one of the keys (ascending; keys outside one day never come); kNever
    // when there is none. Near a change of the zone's offset it may answer a
    // second whose key does not match: the caller checks the key there.
    static int64_t NextReplaySecond(const int64_t* pKeys, size_t nKeys, int64_t nSecond);
};
