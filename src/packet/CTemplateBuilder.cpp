#include "packet/CTemplateBuilder.h"

#include <new>
#include <utility>

#include "packet/CDeviceMessage.h"
#include "packet/CJsonText.h"
#include "text/CDecimal.h"

namespace {

const char kImeiKey[] = "IMEI";
const char kTimeKey[] = "time";
// A counter string has at most this many digits, which always fit 64 bits.
constexpr size_t kMaxCounterDigits = 19;

// What a fleet does with one member: leave it, or set it from a slot.
struct MemberRole {
    bool bSlot = false;
    CMessageTemplate::Slot slot = CMessageTemplate::Slot::kImeiString;
    uint64_t nCounterBase = 0;
    bool bCounterSigned = false;
    int nCounterWidth = 0;
    // A generated slot's rule, form and decimals.
    uint8_t nRule = 0;
    CMessageTemplate::Form nForm = CMessageTemplate::Form::kInteger;
    int nDecimals = 0;
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

// A decimal number as a string may hold it, "-12.50": an optional minus,
// digits, and an optional point with digits after it (their count is
// nDecimals).
bool IsDecimalText(std::string_view text, int& nDecimals)
{
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    const size_t nWhole = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    if (i == nWhole)
        return false;
    nDecimals = 0;
    if (i == text.size())
        return true;
    if (text[i] != '.')
        return false;
    const size_t nPoint = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    nDecimals = static_cast<int>(i - nPoint);
    return i == text.size() && nDecimals > 0;
}

// The decimals of a double as yyjson writes it: the digits after its point
// ("42.8": 1, "100.0": 1); with an exponent, none for a large number and the
// most for a small one.
int DoubleDecimals(double dValue)
{
    char text[CJsonText::kMaxDoubleText];
    const std::string_view written(text, static_cast<size_t>(CJsonText::WriteDouble(text, dValue) - text));
    const size_t nExponent = written.find('e');
    if (nExponent != std::string_view::npos)
        return written[nExponent + 1] == '-' ? CMessageTemplate::kMaxDecimals : 0;
    return static_cast<int>(written.size() - written.find('.') - 1);
}

int Decimals(const CTemplateBuilder::Vary& vary, int nOwn)
{
    const int nDecimals = vary.nDecimals >= 0 ? vary.nDecimals : nOwn;
    return nDecimals < CMessageTemplate::kMaxDecimals ? nDecimals : CMessageTemplate::kMaxDecimals;
}

// How a rule's values go where the member's value is, keeping its form;
// false, with what the member holds, when they cannot.
bool GeneratedForm(const CTemplateBuilder::Vary& vary, const simdjson::dom::element& value, MemberRole& role,
                   std::string& strHolds)
{
    using Form = CMessageTemplate::Form;
    int nOwn = 0;
    std::string_view text;
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
    case simdjson::dom::element_type::UINT64:
        role.nForm = vary.nDecimals > 0 ? Form::kDecimal : Form::kInteger;
        role.nDecimals = Decimals(vary, 0);
        return vary.bNumbers || (strHolds = "a number", false);
    case simdjson::dom::element_type::DOUBLE:
        role.nForm = Form::kDecimal;
        role.nDecimals = Decimals(vary, DoubleDecimals(value.get_double().value_unsafe()));
        return vary.bNumbers || (strHolds = "a number", false);
    case simdjson::dom::element_type::STRING:
        text = value.get_string().value_unsafe();
        if (IsDecimalText(text, nOwn)) {
            // A number in a string keeps its form: texts that are not
            // numbers would make it another kind of value.
            role.nForm = Form::kDecimalString;
            role.nDecimals = Decimals(vary, nOwn);
            return vary.bNumbers || (strHolds = "a number as a string", false);
        }
        role.nForm = Form::kText;
        return vary.bTexts || (strHolds = "a string that is not a number", false);
    case simdjson::dom::element_type::BOOL:
        strHolds = "a boolean";
        return false;
    case simdjson::dom::element_type::NULL_VALUE:
        strHolds = "null";
        return false;
    case simdjson::dom::element_type::ARRAY:
        strHolds = "an array";
        return false;
    case simdjson::dom::element_type::OBJECT:
        break;
    }
    strHolds = "an object";
    return false;
}

// Decides the roles of the root's members in order; the first "IMEI", the
// first member named like the counter and the first member a vary rule
// names decide, whatever their values.
class CMemberRoles {
public:
    CMemberRoles(const CTemplateBuilder::Rule& rule, std::vector<CTemplateBuilder::VaryMatch>* pMatches)
        : m_rule(rule), m_decided(rule.vary.size(), false), m_pMatches(pMatches)
    {
        if (m_pMatches)
            m_pMatches->assign(rule.vary.size(), CTemplateBuilder::VaryMatch());
    }

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
            return role;
        }
        if (!m_rule.strCounter.empty() && !m_bCounterSeen && key == m_rule.strCounter) {
            m_bCounterSeen = true;
            role.bSlot = ReadCounter(value, role);
            return role;
        }
        for (size_t i = 0; i < m_rule.vary.size() && !role.bSlot; ++i) {
            const CTemplateBuilder::Vary& vary = m_rule.vary[i];
            if (m_decided[i] || vary.strMember != key)
                continue;
            m_decided[i] = true;
            std::string strHolds;
            CTemplateBuilder::VaryMatch match;
            if (GeneratedForm(vary, value, role, strHolds)) {
                role.bSlot = true;
                role.slot = CMessageTemplate::Slot::kGenerated;
                role.nRule = static_cast<uint8_t>(i);
                match.nKind = CTemplateBuilder::VaryMatch::Kind::kSlot;
            } else {
                match.nKind = CTemplateBuilder::VaryMatch::Kind::kWrongType;
                match.strValue = strHolds;
            }
            if (m_pMatches)
                (*m_pMatches)[i] = match;
        }
        return role;
    }

private:
    const CTemplateBuilder::Rule& m_rule;
    std::vector<bool> m_decided;
    std::vector<CTemplateBuilder::VaryMatch>* m_pMatches;
    bool m_bImeiSeen = false;
    bool m_bCounterSeen = false;
};

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
    case Slot::kGenerated: {
        const CMessageTemplate::Generated& value = values.pGenerated[role.nRule];
        std::string text(CMessageTemplate::kMaxGeneratedText + value.text.size(), '\0');
        text.resize(static_cast<size_t>(
            CMessageTemplate::WriteGenerated(&text[0], role.nForm, role.nDecimals, value) - text.data()));
        return text;
    }
    case Slot::kTime:
        break;
    }
    return std::string(values.time);
}

// Where the member replies are matched by gets its value: the counter, or
// the member as it stands (an IMEI's or a generated value is the device's or
// the draw's, not written into the template: such a member matches nothing).
void SetMatch(const MemberRole& role, const simdjson::dom::element& value, CMessageTemplate& message)
{
    using Slot = CMessageTemplate::Slot;
    if (!role.bSlot)
        message.SetMatch(CMessageTemplate::MatchSource::kLiteral, CJsonText::MatchKeyOf(value));
    else if (role.slot == Slot::kCounterDigits || role.slot == Slot::kCounterInt)
        message.SetMatch(CMessageTemplate::MatchSource::kCounter);
}

// Where written members go: a template's literals and slots, or, for the
// reference, one text with each slot's value written in. A template's
// writer also records where the member replies are matched by (its first
// occurrence) gets its value.
class CWriter {
public:
    CWriter(CMessageTemplate* pTemplate, const CMessageTemplate::Values* pValues, std::string_view match = {})
        : m_pTemplate(pTemplate), m_pValues(pValues), m_match(match), m_bMatchSeen(match.empty())
    {
    }

    std::string text;

    void Member(std::string_view key, const MemberRole& role, const simdjson::dom::element& value)
    {
        if (m_bMatchSeen || !m_pTemplate || key != m_match)
            return;
        m_bMatchSeen = true;
        SetMatch(role, value, *m_pTemplate);
    }

    void Slot(const MemberRole& role)
    {
        if (!m_pTemplate) {
            text += SlotText(role, *m_pValues);
            return;
        }
        m_pTemplate->AppendLiteral(text);
        text.clear();
        if (role.slot == CMessageTemplate::Slot::kGenerated) {
            m_pTemplate->AppendGenerated(role.nRule, role.nForm, role.nDecimals);
            return;
        }
        m_pTemplate->AppendSlot(role.slot);
        if (role.slot == CMessageTemplate::Slot::kCounterDigits || role.slot == CMessageTemplate::Slot::kCounterInt)
            m_pTemplate->SetCounterBase(role.nCounterBase, role.bCounterSigned, role.nCounterWidth);
    }

private:
    CMessageTemplate* m_pTemplate;
    const CMessageTemplate::Values* m_pValues;
    std::string_view m_match;
    bool m_bMatchSeen;
};

// Writes the root's members, without its braces, each with the role it
// has; its "time" members are left out when bSkipTime. Answers whether any
// member was written.
bool WriteMembers(CWriter& out, simdjson::dom::object object, CMemberRoles& roles, bool bSkipTime)
{
    bool bAny = false;
    for (simdjson::dom::key_value_pair member : object) {
        if (bSkipTime && member.key == kTimeKey)
            continue;
        if (bAny)
            out.text.push_back(',');
        bAny = true;
        const MemberRole role = roles.Next(member.key, member.value);
        out.Member(member.key, role, member.value);
        CJsonText::AppendKey(out.text, member.key);
        if (role.bSlot)
            out.Slot(role);
        else
            CJsonText::AppendElement(out.text, member.value);
    }
    return bAny;
}

}  // namespace

struct CTemplateBuilder::Impl {
    simdjson::dom::parser parser;
    // The reference's steps, as the worker writes them.
    CDeviceMessage message;
};

CTemplateBuilder::CTemplateBuilder() : m_pImpl(new Impl) {}

CTemplateBuilder::~CTemplateBuilder() = default;

bool CTemplateBuilder::Make(const Packet& packet, const Rule& rule, CMessageTemplate& out,
                            std::vector<VaryMatch>* pMatches)
{
    using Kind = CMessageTemplate::Kind;
    try {
        simdjson::dom::element root;
        if (!CJsonText::Parse(m_pImpl->parser, packet, root))
            return false;
        CMessageTemplate result;
        CMemberRoles roles(rule, pMatches);
        simdjson::dom::object object;
        if (root.get_object().get(object)) {
            out = CMessageTemplate::FromBytes(CJsonText::Compact(root));
            return true;
        }
        CWriter writer(&result, nullptr, rule.strMatch);
        writer.text = "{";
        const bool bAny = WriteMembers(writer, object, roles, rule.nKind == Kind::kStamp);
        std::string& text = writer.text;
        switch (rule.nKind) {
        case Kind::kRaw:
            text.push_back('}');
            break;
        case Kind::kStamp:
            if (rule.strMatch == kTimeKey)
                result.SetMatch(CMessageTemplate::MatchSource::kTime);
            text += bAny ? ",\"time\":\"" : "\"time\":\"";
            result.AppendLiteral(text);
            result.AppendSlot(CMessageTemplate::Slot::kTime);
            text = "\"}";
            break;
        case Kind::kMakeUp:
            text += bAny ? ",\"make_up\":1}" : "\"make_up\":1}";
            break;
        }
        result.AppendLiteral(text);
        out = std::move(result);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CTemplateBuilder::RewriteDirect(const Packet& packet, const Rule& rule, const CMessageTemplate::Values& values,
                                     std::string& out)
{
    using Kind = CMessageTemplate::Kind;
    std::string set;
    try {
        simdjson::dom::element root;
        if (!CJsonText::Parse(m_pImpl->parser, packet, root))
            return false;
        simdjson::dom::object object;
        if (root.get_object().get(object)) {
            out = CJsonText::Compact(root);
            return true;
        }
        CMemberRoles roles(rule, nullptr);
        CWriter writer(nullptr, &values);
        writer.text = "{";
        WriteMembers(writer, object, roles, false);
        writer.text.push_back('}');
        set = std::move(writer.text);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (rule.nKind == Kind::kRaw) {
        out = std::move(set);
        return true;
    }
    const Packet withValues{set.data(), static_cast<int32_t>(set.size())};
    return rule.nKind == Kind::kStamp ? m_pImpl->message.Stamp(withValues, values.time, out)
                                      : m_pImpl->message.MakeUp(withValues, out);
}
