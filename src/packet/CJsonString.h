#pragma once

#include <string>
#include <string_view>

// A JSON string literal as the device messages are written: `\"`, `\\`,
// `\b \t \n \f \r` and `\u00XX` for the other control bytes; every other
// byte ('/', DEL, UTF-8 sequences) as it is. The bytes are expected to be
// UTF-8 already. Any thread.
class CJsonString {
public:
    static void Append(std::string& out, std::string_view bytes);
};
