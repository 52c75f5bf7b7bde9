#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Unsigned decimal numbers as the program reads and writes them: only ASCII
// digits, and zero-padded to a width. Stateless; any thread.
class CDecimal {
public:
    // The most digits WritePadded writes beyond the padding.
    static constexpr int kMaxDigits = 20;

    // True, with the value, when text is one or more digits (any number of
    // leading zeros) whose value is at most nMax.
    static bool Read(std::string_view text, uint64_t nMax, uint64_t& nValue);
    // Digits with an optional fraction ("12", "0.25"; not ".5", "5." or a
    // sign) from text[nAt] on; true, with the value, and nAt moved past them.
    static bool ReadFraction(std::string_view text, size_t& nAt, double& dValue);
    // The digits of n, zero-padded to nWidth, written at p; answers the end.
    static char* WritePadded(char* p, uint64_t n, int nWidth);
    static std::string Padded(uint64_t n, int nWidth);
    // 1234567 as "1,234,567".
    static std::string Grouped(uint64_t n);
};
