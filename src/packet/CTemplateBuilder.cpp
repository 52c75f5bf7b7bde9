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
    explicit CMemberRoles(const CTemplateBuilder::Rule& rule) : m_rule(rule) {}

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
    const CTemplateBuilder::Rule& m_rule;
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
    case Slot::kTime:
        break;
    }
    return std::string(values.time);
}

// Where the member replies are matched by gets its value: the counter, or
// the member as it stands (an IMEI's value is the device's, not the
// datagram's: such a member matches nothing).
void SetMatch(const MemberRole& role, const simdjson::dom::element& value, CMessageTemplate& message)
{
    using Slot = CMessageTemplate::Slot;
    if (!role.bSlot)
        message.SetMatch(CMessageTemplate::MatchSource::kLiteral, CJsonText::MatchKeyOf(value));
    else if (role.slot == Slot::kCounterDigits || role.slot == Slot::kCounterInt)
        message.SetMatch(CMessageTemplate::MatchSource::kCounter);
}

}  // namespace

struct CTemplateBuilder::Impl {
    simdjson::dom::parser parser;
    // The reference's steps, as the worker writes them.
    CDeviceMessage message;
};

CTemplateBuilder::CTemplateBuilder() : m_pImpl(new Impl) {}

CTemplateBuilder::~CTemplateBuilder() = default;

bool CTemplateBuilder::Make(const Packet& packet, const Rule& rule, CMessageTemplate& out)
{
    using Kind = CMessageTemplate::Kind;
    try {
        simdjson::dom::element root;
        if (!CJsonText::Parse(m_pImpl->parser, packet, root))
            return false;
        CMessageTemplate result;
        simdjson::dom::object object;
        if (root.get_object().get(object)) {
            out = CMessageTemplate::FromBytes(CJsonText::Compact(root));
            return true;
        }
        CMemberRoles roles(rule);
        std::string text = "{";
        bool bFirst = true;
        bool bMatchSeen = rule.strMatch.empty();
        for (simdjson::dom::key_value_pair member : object) {
            if (rule.nKind == Kind::kStamp && member.key == kTimeKey)
                continue;
            if (!bFirst)
                text.push_back(',');
            bFirst = false;
            const MemberRole role = roles.Next(member.key, member.value);
            if (!bMatchSeen && member.key == rule.strMatch) {
                bMatchSeen = true;
                SetMatch(role, member.value, result);
            }
            if (!role.bSlot) {
                CJsonText::AppendMember(text, member);
                continue;
            }
            CJsonText::AppendKey(text, member.key);
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
            if (rule.strMatch == kTimeKey)
                result.SetMatch(CMessageTemplate::MatchSource::kTime);
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
        CMemberRoles roles(rule);
        set = "{";
        for (simdjson::dom::key_value_pair member : object) {
            if (set.size() > 1)
                set.push_back(',');
            const MemberRole role = roles.Next(member.key, member.value);
            if (role.bSlot) {
                CJsonText::AppendKey(set, member.key);
                set += SlotText(role, values);
            } else {
                CJsonText::AppendMember(set, member);
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
    return rule.nKind == Kind::kStamp ? m_pImpl->message.Stamp(withValues, values.time, out)
                                      : m_pImpl->message.MakeUp(withValues, out);
}
