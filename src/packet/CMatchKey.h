#pragma once

#include <cstdint>
#include <string_view>

// What a datagram and the reply that answers it share when replies are
// matched by a member: that member's value, as a 64-bit key. A string's key
// is of its characters (unescaped), an integer's of its decimal digits, any
// other value's of its compact JSON text, each kind apart from the others: a
// string "12" and a number 12 differ. Stateless; any thread.
class CMatchKey {
public:
    static uint64_t OfString(std::string_view characters);
    // Decimal digits with a leading '-' for a negative integer.
    static uint64_t OfInteger(std::string_view text);
    static uint64_t OfOther(std::string_view compactJson);
};
