#pragma once

#include <cstdint>
#include <optional>

// The send modes in index order: the index is the mode selector's entry, the
// mode of the worker and of the fleet, and the value in the settings file.
// Each has the selector's label, the command line's name, the period of a
// timed mode in seconds and the tick of the one-device worker.
namespace SendModes {

enum Mode : uint8_t {
    kEverySecond = 0,
    kEveryTenSeconds = 1,
    kEveryMinute = 2,
    kEveryHour = 3,
    kEvery100Ms = 4,
    kReplay = 5,
    kEvery10Ms = 6,
};

struct Info {
    Mode nMode;
    const char* pszLabel;
    const char* pszName;
    int64_t nPeriodSeconds;  // the timed modes; 0 for the others
    int nTickMs;
};

// Every run's first tick, whatever the mode.
inline constexpr int kFirstTickMs = 100;

inline constexpr int kCount = 7;
inline constexpr Info kModes[kCount] = {
    {kEverySecond, "每秒发送一次", "1s", 1, kFirstTickMs},
    {kEveryTenSeconds, "每十秒发送一次", "10s", 10, kFirstTickMs},
    {kEveryMinute, "每分钟发送一次", "1min", 60, kFirstTickMs},
    {kEveryHour, "每小时发送一次", "1h", 3600, kFirstTickMs},
    {kEvery100Ms, "每100毫秒发送一次", "100ms", 0, 100},
    {kReplay, "模拟实际发送", "replay", 0, kFirstTickMs},
    {kEvery10Ms, "每10毫秒发送一次", "10ms", 0, 10},
};

// The mode at a selector's index or of a stored number; none for any other
// number (a selector without a selection answers -1).
inline constexpr std::optional<Mode> ModeAt(int64_t nIndex)
{
    return nIndex >= 0 && nIndex < kCount ? std::optional<Mode>(static_cast<Mode>(nIndex)) : std::nullopt;
}

}  // namespace SendModes
