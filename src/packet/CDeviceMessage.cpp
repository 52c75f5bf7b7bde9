#include "packet/CDeviceMessage.h"

#include <simdjson.h>

#include <new>

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
            simdjson::dom::object object;
            if (root.get_object().get(object)) {
                out = simdjson::to_string(root);
                return true;
            }
            std::string text;
            text.reserve(static_cast<size_t>(packet.length) + 32);
            text.push_back('{');
            for (simdjson::dom::key_value_pair member : object) {
                if (bStamp && member.key == kTimeKey)
                    continue;
                if (text.size() > 1)
                    text.push_back(',');
                text += simdjson::to_string(member);
            }
            if (text.size() > 1)
                text.push_back(',');
            if (bStamp) {
                // The formatted time holds only digits, '-', ':', blanks and
                // letters: nothing that needs escaping.
                text += "\"time\":\"";
                text += strTime;
                text += '"';
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
