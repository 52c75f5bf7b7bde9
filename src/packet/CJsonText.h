#pragma once

#include <simdjson.h>

#include <string>
#include <string_view>

#include "packet/Packet.h"

// Packets as JSON: the strict parse every step makes (standard JSON, valid
// UTF-8, nothing but white space after the root, nesting at most 1024 deep,
// integers within 64 bits), and the compact text every rewriting step
// writes: no white space, members and items in their order, numbers and
// string escapes as yyjson writes them. For the packet classes (it speaks
// simdjson) and, for its string escape, the JSON files the fleet writes.
// Stateless; the parser is the caller's.
class CJsonText {
public:
    // False when the packet does not parse. May throw std::bad_alloc, as the
    // parser does.
    static bool Parse(simdjson::dom::parser& parser, const Packet& packet, simdjson::dom::element& root);

    static void AppendString(std::string& out, std::string_view bytes);
    static void AppendElement(std::string& out, simdjson::dom::element element);
    // A member's key and the colon.
    static void AppendKey(std::string& out, std::string_view key);
    static void AppendMember(std::string& out, const simdjson::dom::key_value_pair& member);
    static std::string Compact(simdjson::dom::element element);
    // The value's key for matching replies (CMatchKey).
    static uint64_t MatchKeyOf(simdjson::dom::element value);

    // The most bytes WriteDouble writes.
    static constexpr size_t kMaxDoubleText = 32;
    // A double as yyjson writes it: the shortest digits that read back to
    // the same double, laid out as ECMAScript's Number-to-String does,
    // except that a decimal point is always kept ("100.0"), negative zero
    // keeps its sign ("-0.0") and the exponent has no '+' ("1e21",
    // "1.5e-7"). Answers the end of the text.
    static char* WriteDouble(char* p, double value);
};
