#include "packet/CJsonString.h"

namespace {

// How each byte goes into a JSON string literal: 0 as it is, 'u' as \u00XX,
// any other value as a backslash and that letter. '/', DEL and the bytes of
// multi-byte UTF-8 sequences go as they are.
struct EscapeTable {
    char code[256];

    constexpr EscapeTable() : code()
    {
        for (int c = 0; c < 0x20; ++c)
            code[c] = 'u';
        code[0x08] = 'b';
        code[0x09] = 't';
        code[0x0A] = 'n';
        code[0x0C] = 'f';
        code[0x0D] = 'r';
        code[0x22] = '"';
        code[0x5C] = '\\';
    }
};

constexpr EscapeTable kEscapes;

}  // namespace

void CJsonString::Append(std::string& out, std::string_view bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('"');
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const char* run = p;
        while (p < end && kEscapes.code[static_cast<unsigned char>(*p)] == 0)
            ++p;
        out.append(run, static_cast<size_t>(p - run));
        if (p == end)
            break;
        const unsigned char c = static_cast<unsigned char>(*p++);
        const char code = kEscapes.code[c];
        if (code == 'u') {
            const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.append(escape, sizeof escape);
        } else {
            const char escape[2] = {'\\', code};
            out.append(escape, sizeof escape);
        }
    }
    out.push_back('"');
}
