#include "report/CHtmlText.h"

#include "text/CUtf8.h"

std::string CHtmlText::Escape(std::string_view text)
{
    const std::string strValid = CUtf8::Valid(text);
    std::string out;
    out.reserve(strValid.size() + strValid.size() / 8);
    for (size_t i = 0; i < strValid.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(strValid[i]);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\t':
        case '\n':
            out.push_back(static_cast<char>(c));
            break;
        default:
            // C0 controls, DEL and the C1 controls (U+0080 to U+009F, C2 80
            // to C2 9F in UTF-8) have no business in a page's text.
            if (c < 0x20 || c == 0x7F) {
                out += CUtf8::kReplacement;
            } else if (c == 0xC2 && i + 1 < strValid.size() &&
                       static_cast<unsigned char>(strValid[i + 1]) <= 0x9F) {
                out += CUtf8::kReplacement;
                ++i;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out;
}
