#pragma once

#include <string>
#include <string_view>

// UTF-8 as RFC 3629 has it: no overlong forms, no surrogates, nothing above
// U+10FFFF. Any thread.
class CUtf8 {
public:
    // U+FFFD REPLACEMENT CHARACTER.
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";

    // The bytes with each one that does not belong to a well-formed sequence
    // replaced by U+FFFD, so that a JSON or HTML text built from them is UTF-8.
    static std::string Valid(std::string_view bytes);
};
