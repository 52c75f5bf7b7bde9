#include "packet/CDeviceMessage.h"

#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <new>

#include "text/CDecimal.h"
#include "time/CDateTime.h"

namespace {

const char kTimeKey[] = "time";
const char kTimePattern[] = "%Y-%m-%d %H:%M:%S";

bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%d" conversion: white space, a sign, at least one digit.
bool ScanInt(const char*& p, const char* end, int32_t& value)
{
    while (p < end && IsScanSpace(*p))
        ++p;
    bool bNegative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        bNegative = *p == '-';
        ++p;
    }
    if (p >= end || *p < '0' || *p > '9')
        return false;
    uint32_t acc = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        acc = acc * 10u + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    if (bNegative)
        acc = 0u - acc;
    value = static_cast<int32_t>(acc);
    return true;
}

bool ScanLiteral(const char*& p, const char* end, char c)
{
    if (p >= end || *p != c)
        return false;
    ++p;
    return true;
}

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

void AppendJsonString(std::string& out, std::string_view bytes)
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

// The shortest digits that read back to the same double, laid out as
// ECMAScript's Number-to-String does, except that a decimal point is always
// kept ("100.0"), negative zero keeps its sign ("-0.0") and the exponent has
// no '+' ("1e21", "1.5e-7").
void AppendJsonDouble(std::string& out, double value)
{
    if (std::signbit(value))
        out.push_back('-');
    if (value == 0.0) {
        out += "0.0";
        return;
    }
    // Scientific form gives "d[.ddd]e[+-]x" with no trailing zeros in the digits.
    char text[32];
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
    char digits[20];
    int nDigits = 0;
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p != '.')
            digits[nDigits++] = *p;
    }
    ++p;
    const bool bNegativeExponent = *p == '-';
    ++p;
    int nExponent = 0;
    for (; p < result.ptr; ++p)
        nExponent = nExponent * 10 + (*p - '0');
    if (bNegativeExponent)
        nExponent = -nExponent;

    // The decimal point goes after the first nPoint digits.
    const int nPoint = nExponent + 1;
    if (nDigits <= nPoint && nPoint <= 21) {
        out.append(digits, static_cast<size_t>(nDigits));
        out.append(static_cast<size_t>(nPoint - nDigits), '0');
        out += ".0";
    } else if (0 < nPoint && nPoint <= 21) {
        out.append(digits, static_cast<size_t>(nPoint));
        out.push_back('.');
        out.append(digits + nPoint, static_cast<size_t>(nDigits - nPoint));
    } else if (-6 < nPoint && nPoint <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-nPoint), '0');
        out.append(digits, static_cast<size_t>(nDigits));
    } else {
        out.push_back(digits[0]);
        if (nDigits > 1) {
            out.push_back('.');
            out.append(digits + 1, static_cast<size_t>(nDigits - 1));
        }
        out.push_back('e');
        char exponent[8];
        const std::to_chars_result written = std::to_chars(exponent, exponent + sizeof exponent, nPoint - 1);
        out.append(exponent, written.ptr);
    }
}

template <typename Int>
void AppendJsonInteger(std::string& out, Int value)
{
    char text[24];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

// The compact form of one element: no white space, members and items in their
// order, numbers and strings as above.
void AppendJson(std::string& out, simdjson::dom::element element)
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
            AppendJson(out, item);
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
            AppendJsonString(out, member.key);
            out.push_back(':');
            AppendJson(out, member.value);
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
    case simdjson::dom::element_type::DOUBLE:
        AppendJsonDouble(out, element.get_double().value_unsafe());
        break;
    case simdjson::dom::element_type::STRING:
        AppendJsonString(out, element.get_string().value_unsafe());
        break;
    case simdjson::dom::element_type::BOOL:
        out += element.get_bool().value_unsafe() ? "true" : "false";
        break;
    case simdjson::dom::element_type::NULL_VALUE:
        out += "null";
        break;
    }
}

}  // namespace

struct CDeviceMessage::Impl {
    simdjson::dom::parser parser;

    // The root's members in order, each kept unless it is a "time" member to
    // be dropped, then the appended member. A root that is not an object goes
    // back as it is.
    bool Rewrite(const Packet& packet, bool bStamp, const std::string& strTime, std::string& out)
    {
        if (packet.data == nullptr || packet.length < 0)
            return false;
        try {
            simdjson::dom::element root;
            if (parser.parse(packet.data, static_cast<size_t>(packet.length)).get(root))
                return false;
            std::string text;
            text.reserve(static_cast<size_t>(packet.length) + 32);
            simdjson::dom::object object;
            if (root.get_object().get(object)) {
                AppendJson(text, root);
                out = std::move(text);
                return true;
            }
            text.push_back('{');
            for (simdjson::dom::key_value_pair member : object) {
                if (bStamp && member.key == kTimeKey)
                    continue;
                if (text.size() > 1)
                    text.push_back(',');
                AppendJsonString(text, member.key);
                text.push_back(':');
                AppendJson(text, member.value);
            }
            if (text.size() > 1)
                text.push_back(',');
            if (bStamp) {
                AppendJsonString(text, kTimeKey);
                text.push_back(':');
                AppendJsonString(text, strTime);
            } else {
                text += "\"make_up\":1";
            }
            text.push_back('}');
            out = std::move(text);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
};

CDeviceMessage::CDeviceMessage() : m_pImpl(new Impl) {}

CDeviceMessage::~CDeviceMessage() = default;

bool CDeviceMessage::Stamp(const Packet& packet, const CDateTime& when, std::string& out)
{
    return m_pImpl->Rewrite(packet, true, when.Format(kTimePattern), out);
}

bool CDeviceMessage::MakeUp(const Packet& packet, std::string& out)
{
    return m_pImpl->Rewrite(packet, false, std::string(), out);
}

CDeviceMessage::ImportReading CDeviceMessage::ReadImport(const Packet& packet)
{
    ImportReading reading;
    if (packet.data == nullptr || packet.length < 0)
        return reading;
    try {
        simdjson::dom::element root;
        if (m_pImpl->parser.parse(packet.data, static_cast<size_t>(packet.length)).get(root))
            return reading;
        simdjson::dom::object object;
        if (root.get_object().get(object))
            return reading;
        simdjson::dom::element imei;
        if (object.at_key("IMEI").get(imei))
            return reading;
        reading.bKeep = true;
        std::string_view time;
        if (object.at_key(kTimeKey).get_string().get(time) == simdjson::SUCCESS)
            reading.bHasKey = ReadTimeOfDayKey(time, reading.nKey);
    } catch (const std::bad_alloc&) {
        return ImportReading{};
    }
    return reading;
}

bool CDeviceMessage::ReadTimeOfDayKey(std::string_view text, int64_t& nKey)
{
    // Like the C runtime's scanf, the text ends at its first zero byte.
    const size_t nZero = text.find('\0');
    if (nZero != std::string_view::npos)
        text = text.substr(0, nZero);
    const char* p = text.data();
    const char* end = p + text.size();
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ScanInt(p, end, year) || !ScanLiteral(p, end, '-') || !ScanInt(p, end, month) ||
        !ScanLiteral(p, end, '-') || !ScanInt(p, end, day))
        return false;
    while (p < end && IsScanSpace(*p))
        ++p;
    if (!ScanInt(p, end, hour) || !ScanLiteral(p, end, ':') || !ScanInt(p, end, minute) ||
        !ScanLiteral(p, end, ':') || !ScanInt(p, end, second))
        return false;
    nKey = TimeOfDayKey(hour, minute, second);
    return true;
}

int64_t CDeviceMessage::TimeOfDayKey(int32_t nHour, int32_t nMinute, int32_t nSecond)
{
    const uint32_t nKey = static_cast<uint32_t>(nHour) * 3600u + static_cast<uint32_t>(nMinute) * 60u +
                          static_cast<uint32_t>(nSecond);
    return static_cast<int64_t>(static_cast<int32_t>(nKey));
}

namespace {

const char kImeiKey[] = "IMEI";
// A counter string has at most this many digits, which always fit 64 bits.
constexpr size_t kMaxCounterDigits = 19;

// Strict parse of a packet; false when it does not parse. May throw
// std::bad_alloc, as the parser does.
bool ParsePacket(simdjson::dom::parser& parser, const Packet& packet, simdjson::dom::element& root)
{
    return packet.data != nullptr && packet.length >= 0 &&
           parser.parse(packet.data, static_cast<size_t>(packet.length)).get(root) == simdjson::SUCCESS;
}

// What a fleet does with one root member: leave it, or set it from a slot.
struct MemberRole {
    bool bSlot = false;
    CMessageTemplate::Slot slot = CMessageTemplate::Slot::kImeiString;
    uint64_t nCounterBase = 0;
    bool bCounterSigned = false;
    int nCounterWidth = 0;
};

// Reads the packet's counter value: a digit string that fits 64 bits, or an
// integer.
bool ReadCounter(const simdjson::dom::element& value, MemberRole& role)
{
    std::string_view digits;
    if (value.get_string().get(digits) == simdjson::SUCCESS) {
        uint64_t n = 0;
        if (digits.size() > kMaxCounterDigits || !CDecimal::Read(digits, UINT64_MAX, n))
            return false;
        role.slot = CMessageTemplate::Slot::kCounterDigits;
        role.nCounterBase = n;
        role.nCounterWidth = static_cast<int>(digits.size());
        return true;
    }
    if (value.type() == simdjson::dom::element_type::INT64) {
        const int64_t n = value.get_int64().value_unsafe();
        role.slot = CMessageTemplate::Slot::kCounterInt;
        role.nCounterBase = static_cast<uint64_t>(n);
        role.bCounterSigned = n < 0;
        return true;
    }
    if (value.type() == simdjson::dom::element_type::UINT64) {
        role.slot = CMessageTemplate::Slot::kCounterInt;
        role.nCounterBase = value.get_uint64().value_unsafe();
        return true;
    }
    return false;
}

// Decides the roles of the root's members in order; the first "IMEI" and the
// first member named like the counter decide, whatever their values.
class CMemberRoles {
public:
    explicit CMemberRoles(const CDeviceMessage::TemplateRule& rule) : m_rule(rule) {}

    MemberRole Next(std::string_view key, const simdjson::dom::element& value)
    {
        MemberRole role;
        if (m_rule.bSetImei && !m_bImeiSeen && key == kImeiKey) {
            m_bImeiSeen = true;
            if (value.is_string()) {
                role.bSlot = true;
                role.slot = CMessageTemplate::Slot::kImeiString;
            } else if (value.is_number()) {
                role.bSlot = true;
                role.slot = CMessageTemplate::Slot::kImeiNumber;
            }
        } else if (!m_rule.strCounter.empty() && !m_bCounterSeen && key == m_rule.strCounter) {
            m_bCounterSeen = true;
            role.bSlot = ReadCounter(value, role);
        }
        return role;
    }

private:
    const CDeviceMessage::TemplateRule& m_rule;
    bool m_bImeiSeen = false;
    bool m_bCounterSeen = false;
};

// The written member without its value: the key and the colon.
void AppendKey(std::string& out, const simdjson::dom::key_value_pair& member)
{
    AppendJsonString(out, member.key);
    out.push_back(':');
}

void AppendMember(std::string& out, const simdjson::dom::key_value_pair& member)
{
    AppendKey(out, member);
    AppendJson(out, member.value);
}

std::string CompactText(simdjson::dom::element element)
{
    std::string text;
    AppendJson(text, element);
    return text;
}

// A slot's value written plainly, as the reference for the template's splice.
std::string SlotText(const MemberRole& role, const CMessageTemplate::Values& values)
{
    using Slot = CMessageTemplate::Slot;
    if ((role.slot == Slot::kImeiString || role.slot == Slot::kImeiNumber) && !values.imeiJson.empty())
        return std::string(values.imeiJson);
    const uint64_t nCounter = role.nCounterBase + values.nCounterStep;
    switch (role.slot) {
    case Slot::kImeiString:
        return '"' + CDecimal::Padded(values.nImei, values.nImeiWidth) + '"';
    case Slot::kImeiNumber:
        return std::to_string(values.nImei);
    case Slot::kCounterDigits:
        return '"' + CDecimal::Padded(nCounter, role.nCounterWidth) + '"';
    case Slot::kCounterInt:
        return role.bCounterSigned ? std::to_string(static_cast<int64_t>(nCounter)) : std::to_string(nCounter);
    case Slot::kTime:
        break;
    }
    return std::string(values.time);
}

}  // namespace

bool CDeviceMessage::MakeTemplate(const Packet& packet, const TemplateRule& rule, CMessageTemplate& out)
{
    using Kind = CMessageTemplate::Kind;
    try {
        simdjson::dom::element root;
        if (!ParsePacket(m_pImpl->parser, packet, root))
            return false;
        CMessageTemplate result;
        simdjson::dom::object object;
        if (root.get_object().get(object)) {
            out = CMessageTemplate::FromBytes(CompactText(root));
            return true;
        }
        CMemberRoles roles(rule);
        std::string text = "{";
        bool bFirst = true;
        for (simdjson::dom::key_value_pair member : object) {
            if (rule.nKind == Kind::kStamp && member.key == kTimeKey)
                continue;
            if (!bFirst)
                text.push_back(',');
            bFirst = false;
            const MemberRole role = roles.Next(member.key, member.value);
            if (!role.bSlot) {
                AppendMember(text, member);
                continue;
            }
            AppendKey(text, member);
            result.AppendLiteral(text);
            text.clear();
            result.AppendSlot(role.slot);
            if (role.slot == CMessageTemplate::Slot::kCounterDigits ||
                role.slot == CMessageTemplate::Slot::kCounterInt)
                result.SetCounterBase(role.nCounterBase, role.bCounterSigned, role.nCounterWidth);
        }
        switch (rule.nKind) {
        case Kind::kRaw:
            text.push_back('}');
            break;
        case Kind::kStamp:
            text += bFirst ? "\"time\":\"" : ",\"time\":\"";
            result.AppendLiteral(text);
            result.AppendSlot(CMessageTemplate::Slot::kTime);
            text = "\"}";
            break;
        case Kind::kMakeUp:
            text += bFirst ? "\"make_up\":1}" : ",\"make_up\":1}";
            break;
        }
        result.AppendLiteral(text);
        out = std::move(result);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CDeviceMessage::RewriteDirect(const Packet& packet, const TemplateRule& rule,
                                   const CMessageTemplate::Values& values, std::string& out)
{
    using Kind = CMessageTemplate::Kind;
    std::string set;
    try {
        simdjson::dom::element root;
        if (!ParsePacket(m_pImpl->parser, packet, root))
            return false;
        simdjson::dom::object object;
        if (root.get_object().get(object)) {
            out = CompactText(root);
            return true;
        }
        CMemberRoles roles(rule);
        set = "{";
        for (simdjson::dom::key_value_pair member : object) {
            if (set.size() > 1)
                set.push_back(',');
            const MemberRole role = roles.Next(member.key, member.value);
            if (role.bSlot) {
                AppendKey(set, member);
                set += SlotText(role, values);
            } else {
                AppendMember(set, member);
            }
        }
        set.push_back('}');
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (rule.nKind == Kind::kRaw) {
        out = std::move(set);
        return true;
    }
    const Packet withValues{set.data(), static_cast<int32_t>(set.size())};
    return m_pImpl->Rewrite(withValues, rule.nKind == Kind::kStamp, std::string(values.time), out);
}

bool CDeviceMessage::ReadImei(const Packet& packet, std::string& strValue)
{
    try {
        simdjson::dom::element root;
        if (!ParsePacket(m_pImpl->parser, packet, root))
            return false;
        simdjson::dom::element imei;
        if (root.at_key(kImeiKey).get(imei))
            return false;
        strValue = CompactText(imei);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
