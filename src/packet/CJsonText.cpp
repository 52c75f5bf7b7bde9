#include "packet/CJsonText.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "packet/CMatchKey.h"

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

template <typename Int>
void AppendJsonInteger(std::string& out, Int value)
{
    char text[24];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

}  // namespace

char* CJsonText::WriteDouble(char* p, double value)
{
    if (std::signbit(value))
        *p++ = '-';
    if (value == 0.0) {
        std::memcpy(p, "0.0", 3);
        return p + 3;
    }
    // Scientific form gives "d[.ddd]e[+-]x" with no trailing zeros in the digits.
    char text[32];
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
    char digits[20];
    int nDigits = 0;
    const char* q = text;
    for (; *q != 'e'; ++q) {
        if (*q != '.')
            digits[nDigits++] = *q;
    }
    ++q;
    const bool bNegativeExponent = *q == '-';
    ++q;
    int nExponent = 0;
    for (; q < result.ptr; ++q)
        nExponent = nExponent * 10 + (*q - '0');
    if (bNegativeExponent)
        nExponent = -nExponent;

    // The decimal point goes after the first nPoint digits.
    const int nPoint = nExponent + 1;
    const auto put = [&p](const char* pFrom, int nCount) {
        std::memcpy(p, pFrom, static_cast<size_t>(nCount));
        p += nCount;
    };
    const auto zeros = [&p](int nCount) {
        std::memset(p, '0', static_cast<size_t>(nCount));
        p += nCount;
    };
    if (nDigits <= nPoint && nPoint <= 21) {
        put(digits, nDigits);
        zeros(nPoint - nDigits);
        put(".0", 2);
    } else if (0 < nPoint && nPoint <= 21) {
        put(digits, nPoint);
        *p++ = '.';
        put(digits + nPoint, nDigits - nPoint);
    } else if (-6 < nPoint && nPoint <= 0) {
        put("0.", 2);
        zeros(-nPoint);
        put(digits, nDigits);
    } else {
        *p++ = digits[0];
        if (nDigits > 1) {
            *p++ = '.';
            put(digits + 1, nDigits - 1);
        }
        *p++ = 'e';
        p = std::to_chars(p, p + 8, nPoint - 1).ptr;
    }
    return p;
}

bool CJsonText::Parse(simdjson::dom::parser& parser, const Packet& packet, simdjson::dom::element& root)
{
    return packet.data != nullptr && packet.length >= 0 &&
           parser.parse(packet.data, static_cast<size_t>(packet.length)).get(root) == simdjson::SUCCESS;
}

void CJsonText::AppendString(std::string& out, std::string_view bytes)
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

void CJsonText::AppendElement(std::string& out, simdjson::dom::element element)
{
    switch (element.type()) {
    case simdjson::dom::element_type::ARRAY: {
        const simdjson::dom::array array = element.get_array().value_unsafe();
        out.push_back('[');
        bool bFirst = true;
        for (simdjson::dom::element item : array) {
            if (!bFirst)
                out.push_back(',');
            bFirst = false;
            AppendElement(out, item);
        }
        out.push_back(']');
        break;
    }
    case simdjson::dom::element_type::OBJECT: {
        const simdjson::dom::object object = element.get_object().value_unsafe();
        out.push_back('{');
        bool bFirst = true;
        for (simdjson::dom::key_value_pair member : object) {
            if (!bFirst)
                out.push_back(',');
            bFirst = false;
            AppendMember(out, member);
        }
        out.push_back('}');
        break;
    }
    case simdjson::dom::element_type::INT64:
        AppendJsonInteger(out, element.get_int64().value_unsafe());
        break;
    case simdjson::dom::element_type::UINT64:
        AppendJsonInteger(out, element.get_uint64().value_unsafe());
        break;
    case simdjson::dom::element_type::DOUBLE: {
        char text[kMaxDoubleText];
        out.append(text, WriteDouble(text, element.get_double().value_unsafe()));
        break;
    }
    case simdjson::dom::element_type::STRING:
        AppendString(out, element.get_string().value_unsafe());
        break;
    case simdjson::dom::element_type::BOOL:
        out += element.get_bool().value_unsafe() ? "true" : "false";
        break;
    case simdjson::dom::element_type::NULL_VALUE:
        out += "null";
        break;
    }
}

void CJsonText::AppendKey(std::string& out, std::string_view key)
{
    AppendString(out, key);
    out.push_back(':');
}

void CJsonText::AppendMember(std::string& out, const simdjson::dom::key_value_pair& member)
{
    AppendKey(out, member.key);
    AppendElement(out, member.value);
}

std::string CJsonText::Compact(simdjson::dom::element element)
{
    std::string text;
    AppendElement(text, element);
    return text;
}

uint64_t CJsonText::MatchKeyOf(simdjson::dom::element value)
{
    std::string_view characters;
    if (value.get_string().get(characters) == simdjson::SUCCESS)
        return CMatchKey::OfString(characters);
    if (value.type() == simdjson::dom::element_type::INT64)
        return CMatchKey::OfInteger(std::to_string(value.get_int64().value_unsafe()));
    if (value.type() == simdjson::dom::element_type::UINT64)
        return CMatchKey::OfInteger(std::to_string(value.get_uint64().value_unsafe()));
    return CMatchKey::OfOther(Compact(value));
}
