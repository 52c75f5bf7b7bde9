// The stamp and make-up steps. Whatever they write must parse again to the
// same values (types and values, doubles to the bit, strings to the byte,
// members in order) and be in canonical form: rewriting it changes nothing
// but the appended member. For an object root the written members are the
// packet's members in order (every root "time" gone after a stamp), then the
// one appended member: exactly one root "time" holding the formatted time, or
// "make_up":1. A root that is not an object comes back as the same value. A
// step fails only for a packet that does not parse.
//
// Input: byte 0 bit 0 makes the clock reading negative (an invalid date-time),
// bytes 1-4 are the reading's magnitude in seconds; the rest is the packet.
#include <simdjson.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "packet/CDeviceMessage.h"
#include "time/CDateTime.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

struct Parsed {
    bool bOk = false;
    bool bObject = false;
    std::string strValue;  // the root's value, described by Describe
    Members members;       // an object root's members: key, value described
};

void DescribeBytes(std::string& out, std::string_view bytes)
{
    out += std::to_string(bytes.size());
    out += ':';
    out.append(bytes.data(), bytes.size());
}

// A description of one value that tells apart everything the written text
// must keep: type, integer value, double bits, string bytes, member order.
void Describe(std::string& out, simdjson::dom::element element)
{
    switch (element.type()) {
    case simdjson::dom::element_type::OBJECT: {
        const simdjson::dom::object object = element.get_object().value_unsafe();
        out += '{';
        for (simdjson::dom::key_value_pair member : object) {
            DescribeBytes(out, member.key);
            Describe(out, member.value);
        }
        out += '}';
        break;
    }
    case simdjson::dom::element_type::ARRAY: {
        const simdjson::dom::array array = element.get_array().value_unsafe();
        out += '[';
        for (simdjson::dom::element item : array) {
            Describe(out, item);
            out += ',';
        }
        out += ']';
        break;
    }
    case simdjson::dom::element_type::INT64:
        out += 'i' + std::to_string(element.get_int64().value_unsafe()) + ';';
        break;
    case simdjson::dom::element_type::UINT64:
        out += 'u' + std::to_string(element.get_uint64().value_unsafe()) + ';';
        break;
    case simdjson::dom::element_type::DOUBLE: {
        const double d = element.get_double().value_unsafe();
        uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        out += 'd' + std::to_string(bits) + ';';
        break;
    }
    case simdjson::dom::element_type::STRING:
        out += 's';
        DescribeBytes(out, element.get_string().value_unsafe());
        break;
    case simdjson::dom::element_type::BOOL:
        out += element.get_bool().value_unsafe() ? 't' : 'f';
        break;
    case simdjson::dom::element_type::NULL_VALUE:
        out += 'n';
        break;
    }
}

Parsed Parse(const std::string& strText)
{
    static simdjson::dom::parser parser;
    Parsed parsed;
    simdjson::dom::element root;
    if (parser.parse(strText).get(root))
        return parsed;
    parsed.bOk = true;
    simdjson::dom::object object;
    if (root.get_object().get(object)) {
        Describe(parsed.strValue, root);
    } else {
        parsed.bObject = true;
        for (simdjson::dom::key_value_pair member : object) {
            std::string strValue;
            Describe(strValue, member.value);
            parsed.members.emplace_back(std::string(member.key), std::move(strValue));
        }
    }
    return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDeviceMessage message;
    if (size < 5)
        return 0;
    const int64_t nMagnitude = int64_t{data[1]} | int64_t{data[2]} << 8 | int64_t{data[3]} << 16 |
                               int64_t{data[4]} << 24;
    const CDateTime when((data[0] & 1) ? -nMagnitude - 1 : nMagnitude);
    const std::string strTime = when.Format("%Y-%m-%d %H:%M:%S");
    const std::string strPacket(reinterpret_cast<const char*>(data + 5), size - 5);
    const Packet packet{strPacket.data(), static_cast<int32_t>(strPacket.size())};

    const Parsed original = Parse(strPacket);

    std::string strStamped;
    const bool bStamped = message.Stamp(packet, when, strStamped);
    FUZZ_CHECK(bStamped == original.bOk);
    if (bStamped) {
        const Parsed written = Parse(strStamped);
        FUZZ_CHECK(written.bOk && written.bObject == original.bObject);
        if (!original.bObject) {
            FUZZ_CHECK(written.strValue == original.strValue);
        } else {
            Members expected;
            for (const auto& member : original.members) {
                if (member.first != "time")
                    expected.push_back(member);
            }
            std::string strTimeValue = "s";
            DescribeBytes(strTimeValue, strTime);
            expected.emplace_back("time", strTimeValue);
            FUZZ_CHECK(written.members == expected);
        }
        // Stamping a stamped message at the same time changes nothing.
        std::string strAgain;
        const Packet stamped{strStamped.data(), static_cast<int32_t>(strStamped.size())};
        FUZZ_CHECK(message.Stamp(stamped, when, strAgain) && strAgain == strStamped);
    }

    std::string strMarked;
    const bool bMarked = message.MakeUp(packet, strMarked);
    FUZZ_CHECK(bMarked == original.bOk);
    if (bMarked) {
        const Parsed written = Parse(strMarked);
        FUZZ_CHECK(written.bOk && written.bObject == original.bObject);
        std::string strAgain;
        const Packet marked{strMarked.data(), static_cast<int32_t>(strMarked.size())};
        FUZZ_CHECK(message.MakeUp(marked, strAgain));
        if (!original.bObject) {
            FUZZ_CHECK(written.strValue == original.strValue && strAgain == strMarked);
        } else {
            Members expected = original.members;
            expected.emplace_back("make_up", "i1;");
            FUZZ_CHECK(written.members == expected);
            // Marking again appends one more mark and changes nothing else.
            FUZZ_CHECK(strAgain == strMarked.substr(0, strMarked.size() - 1) + ",\"make_up\":1}");
        }
    }
    return 0;
}
