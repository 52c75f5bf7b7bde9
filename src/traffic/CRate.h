#pragma once

#include <string>
#include <string_view>

#include "base/CStatus.h"

// A rate a user gives, datagrams a second: a number (digits with an optional
// fraction), optionally k (thousands) or M (millions), optionally "/s":
// "20000/s", "20k/s", "1.5M/s", "500". Stateless; any thread.
class CRate {
public:
    // Fails, naming the text and saying what a rate is, when the text is
    // not one above 0 and at most dMax a second.
    [[nodiscard]] static CStatus Read(std::string_view text, double dMax, double& dPerSecond);
    // As a user would write it: "42000/s", "52500/s", "2.5/s".
    static std::string Text(double dPerSecond);
};
