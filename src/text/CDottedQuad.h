#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// IPv4 addresses as the program's own inputs take them: four decimal numbers
// 0-255 of one to three digits joined by dots, and nothing else (no shorter
// forms, no hexadecimal, no names). Stateless; any thread.
class CDottedQuad {
public:
    static bool IsComplete(std::string_view text);
    // The four numbers of a complete one; false, bytes untouched, otherwise.
    static bool Read(std::string_view text, std::array<uint8_t, 4>& bytes);
    // What can still become one as it is typed: at most four numbers, each
    // of at most three digits and at most 255, any of them still empty.
    static bool IsPrefix(std::string_view text);
    // The address an IP address control holds for its text: each of the four
    // fields its number, a missing or bad field 0.
    static std::string Normalized(std::string_view text);
};
