// The stamp and make-up steps. Whatever they write must parse again and be in
// the library's compact form; for an object root the written members are the
// packet's members in order (every root "time" gone after a stamp), then the
// one appended member: exactly one root "time" holding the formatted time, or
// "make_up":1. A root that is not an object comes back in compact form. A
// step fails only for a packet that does not parse.
//
// Input: byte 0 bit 0 makes the clock reading negative (an invalid date-time),
// bytes 1-4 are the reading's magnitude in seconds; the rest is the packet.
#include <simdjson.h>

#include <cstddef>
#include <cstdint>
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
    std::string strCompact;  // the root, written compactly
    Members members;         // an object root's members: key, value written compactly
};

Parsed Parse(simdjson::dom::parser& parser, const std::string& strText)
{
    Parsed parsed;
    simdjson::dom::element root;
    if (parser.parse(strText).get(root))
        return parsed;
    parsed.bOk = true;
    parsed.strCompact = simdjson::to_string(root);
    simdjson::dom::object object;
    if (root.get_object().get(object))
        return parsed;
    parsed.bObject = true;
    for (simdjson::dom::key_value_pair member : object)
        parsed.members.emplace_back(std::string(member.key), simdjson::to_string(member.value));
    return parsed;
}

// The written text parses again, and is already in compact form.
Parsed ParseWritten(simdjson::dom::parser& parser, const std::string& strOut)
{
    const Parsed written = Parse(parser, strOut);
    FUZZ_CHECK(written.bOk);
    FUZZ_CHECK(written.strCompact == strOut);
    return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDeviceMessage message;
    static simdjson::dom::parser parser;
    if (size < 5)
        return 0;
    const int64_t nMagnitude = int64_t{data[1]} | int64_t{data[2]} << 8 | int64_t{data[3]} << 16 |
                               int64_t{data[4]} << 24;
    const CDateTime when((data[0] & 1) ? -nMagnitude - 1 : nMagnitude);
    const std::string strTime = when.Format("%Y-%m-%d %H:%M:%S");
    const std::string strPacket(reinterpret_cast<const char*>(data + 5), size - 5);
    const Packet packet{strPacket.data(), static_cast<int32_t>(strPacket.size())};

    const Parsed original = Parse(parser, strPacket);

    std::string strStamped;
    const bool bStamped = message.Stamp(packet, when, strStamped);
    FUZZ_CHECK(bStamped == original.bOk);
    if (bStamped) {
        const Parsed written = ParseWritten(parser, strStamped);
        if (!original.bObject) {
            FUZZ_CHECK(!written.bObject && strStamped == original.strCompact);
        } else {
            FUZZ_CHECK(written.bObject);
            Members expected;
            for (const auto& member : original.members) {
                if (member.first != "time")
                    expected.push_back(member);
            }
            expected.emplace_back("time", "\"" + strTime + "\"");
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
        const Parsed written = ParseWritten(parser, strMarked);
        if (!original.bObject) {
            FUZZ_CHECK(!written.bObject && strMarked == original.strCompact);
        } else {
            Members expected = original.members;
            expected.emplace_back("make_up", "1");
            FUZZ_CHECK(written.bObject && written.members == expected);
        }
    }
    return 0;
}
