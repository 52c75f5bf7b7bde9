#pragma once

#include <string>
#include <string_view>

// Text made safe for an HTML text node or a quoted attribute value: bytes
// that are not UTF-8 and control characters other than tab and line feed
// become U+FFFD, and & < > " ' become character references, so that nothing
// in it can open an element, an attribute or a script. Any thread.
class CHtmlText {
public:
    static std::string Escape(std::string_view text);
};
