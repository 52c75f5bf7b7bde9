#include "packet/CDeviceMessage.h"

#include <new>

#include "packet/CJsonText.h"
#include "time/CDateTime.h"
#include "time/CTimeOfDay.h"

namespace {

const char kTimeKey[] = "time";
const char kImeiKey[] = "IMEI";
const char kTimePattern[] = "%Y-%m-%d %H:%M:%S";

}  // namespace

struct CDeviceMessage::Impl {
    simdjson::dom::parser parser;

    // The root's members in order, each kept unless it is a "time" member to
    // be dropped, then the appended member. A root that is not an object goes
    // back as it is.
    bool Rewrite(const Packet& packet, bool bStamp, std::string_view strTime, std::string& out)
    {
        try {
            simdjson::dom::element root;
            if (!CJsonText::Parse(parser, packet, root))
                return false;
            std::string text;
            text.reserve(static_cast<size_t>(packet.length) + 32);
            simdjson::dom::object object;
            if (root.get_object().get(object)) {
                CJsonText::AppendElement(text, root);
                out = std::move(text);
                return true;
            }
            text.push_back('{');
            for (simdjson::dom::key_value_pair member : object) {
                if (bStamp && member.key == kTimeKey)
                    continue;
                if (text.size() > 1)
                    text.push_back(',');
                CJsonText::AppendMember(text, member);
            }
            if (text.size() > 1)
                text.push_back(',');
            if (bStamp) {
                CJsonText::AppendKey(text, kTimeKey);
                CJsonText::AppendString(text, strTime);
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

bool CDeviceMessage::IsUsersMember(std::string_view member)
{
    return !member.empty() && member != "IMEI" && member != "time";
}

CDeviceMessage::CDeviceMessage() : m_pImpl(new Impl) {}

CDeviceMessage::~CDeviceMessage() = default;

bool CDeviceMessage::Stamp(const Packet& packet, const CDateTime& when, std::string& out)
{
    return Stamp(packet, when.Format(kTimePattern), out);
}

bool CDeviceMessage::Stamp(const Packet& packet, std::string_view strTime, std::string& out)
{
    return m_pImpl->Rewrite(packet, true, strTime, out);
}

bool CDeviceMessage::MakeUp(const Packet& packet, std::string& out)
{
    return m_pImpl->Rewrite(packet, false, std::string_view(), out);
}

CDeviceMessage::ImportReading CDeviceMessage::ReadImport(const Packet& packet)
{
    ImportReading reading;
    try {
        simdjson::dom::element root;
        if (!CJsonText::Parse(m_pImpl->parser, packet, root))
            return reading;
        simdjson::dom::object object;
        if (root.get_object().get(object))
            return reading;
        simdjson::dom::element imei;
        if (object.at_key(kImeiKey).get(imei))
            return reading;
        reading.bKeep = true;
        std::string_view time;
        if (object.at_key(kTimeKey).get_string().get(time) == simdjson::SUCCESS)
            reading.bHasKey = CTimeOfDay::ReadKey(time, reading.nKey);
    } catch (const std::bad_alloc&) {
        return ImportReading{};
    }
    return reading;
}

bool CDeviceMessage::ReadImei(const Packet& packet, std::string& strValue)
{
    try {
        simdjson::dom::element root;
        if (!CJsonText::Parse(m_pImpl->parser, packet, root))
            return false;
        simdjson::dom::element imei;
        if (root.at_key(kImeiKey).get(imei))
            return false;
        strValue = CJsonText::Compact(imei);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
