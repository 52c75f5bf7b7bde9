#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "packet/Packet.h"

class CDateTime;

// The JSON work done on device messages: the stamp step, the make-up step and
// the import readings. Parsing is strict standard JSON (CJsonText); a packet
// that fails it yields no text and is not kept on import. Written text is
// compact: the root's members in their order, each written as the library
// writes it, the appended member last.
//
// Holds a parser, so one object per thread; the packet bytes are only read.
class CDeviceMessage {
public:
    struct ImportReading {
        bool bKeep = false;    // parses, root is an object with an "IMEI" member
        bool bHasKey = false;  // the first "time" member is a string giving a key
        int64_t nKey = 0;      // its time-of-day key (CTimeOfDay)
    };

    // What a rule on a member a user names (a counter, generated values)
    // needs of it: a name, and neither "IMEI" nor "time", which are the
    // device's and its clock's.
    static bool IsUsersMember(std::string_view member);
    static constexpr char kUsersMemberRule[] = "needs a member other than IMEI and time";

    CDeviceMessage();
    ~CDeviceMessage();
    CDeviceMessage(const CDeviceMessage&) = delete;
    CDeviceMessage& operator=(const CDeviceMessage&) = delete;

    // Every root "time" member removed, then "time" with the value formatted as
    // "%Y-%m-%d %H:%M:%S" appended. False (out untouched) when the packet does
    // not parse or storage runs out. A root that is not an object is written
    // back unchanged.
    bool Stamp(const Packet& packet, const CDateTime& when, std::string& out);
    // The same with the time's text as it is.
    bool Stamp(const Packet& packet, std::string_view strTime, std::string& out);
    // "make_up":1 appended; existing members, "make_up" included, are kept.
    bool MakeUp(const Packet& packet, std::string& out);
    ImportReading ReadImport(const Packet& packet);
    // The value of the root's first "IMEI" member, written compactly. False
    // when the packet does not parse or has no such member.
    bool ReadImei(const Packet& packet, std::string& strValue);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
